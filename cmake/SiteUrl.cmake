# The vendor's site base URL, compiled into the updater.
set(UPDATER_SITE_URL "http://127.0.0.1:8080/" CACHE STRING
    "Base address of the update site: absolute http:// or https:// address ending in /")

# No blanks, quotes or backslashes: the address becomes a C string literal.
if(NOT UPDATER_SITE_URL MATCHES "^https?://[^/ \t\"\\]+(/[^ \t\"\\]*)?/$")
  message(FATAL_ERROR
    "UPDATER_SITE_URL must be an absolute http:// or https:// address that ends in \"/\" "
    "(for example http://127.0.0.1:8080/); it is \"${UPDATER_SITE_URL}\".")
endif()

# The vendor's public release key: base64 (with padding) of the raw 64-byte X and Y of an
# ECDSA P-256 key. With a key the updater installs only releases signed with it; without one
# (the default) it installs unsigned releases as before.
set(UPDATER_RELEASE_KEY "" CACHE STRING
    "Public release key: base64 of the raw 64-byte X||Y of a P-256 key, or empty")
if(NOT UPDATER_RELEASE_KEY STREQUAL "" AND NOT UPDATER_RELEASE_KEY MATCHES "^[A-Za-z0-9+/]+[AQgw]==$")
  set(_key_ok FALSE)
else()
  set(_key_ok TRUE)
endif()
string(LENGTH "${UPDATER_RELEASE_KEY}" _key_length)
if(NOT _key_ok OR (_key_length GREATER 0 AND NOT _key_length EQUAL 88))
  message(FATAL_ERROR
    "UPDATER_RELEASE_KEY must be empty or the base64 (88 characters, ending in \"==\") of the "
    "raw 64-byte X||Y of a P-256 public key; it is \"${UPDATER_RELEASE_KEY}\".")
endif()
