# The vendor's site base URL, compiled into the updater.
set(UPDATER_SITE_URL "http://127.0.0.1:8080/" CACHE STRING
    "Base address of the update site: absolute http:// or https:// address ending in /")

# No blanks, quotes or backslashes: the address becomes a C string literal.
if(NOT UPDATER_SITE_URL MATCHES "^https?://[^/ \t\"\\]+(/[^ \t\"\\]*)?/$")
  message(FATAL_ERROR
    "UPDATER_SITE_URL must be an absolute http:// or https:// address that ends in \"/\" "
    "(for example http://127.0.0.1:8080/); it is \"${UPDATER_SITE_URL}\".")
endif()
