# The tests' HTTP server (test_http_server.py) on 127.0.0.1, one per ctest run: the fixture
# test_http_server starts it before the first test that needs it and stops it after the last.
set(QV_TEST_HTTP_PORT 18431 CACHE STRING
    "Loopback port of the tests' HTTP server (not 8080: the main job uses that)")
if(NOT QV_TEST_HTTP_PORT MATCHES "^[0-9]+$" OR QV_TEST_HTTP_PORT LESS 1024
   OR QV_TEST_HTTP_PORT GREATER 65535 OR QV_TEST_HTTP_PORT EQUAL 8080)
  message(FATAL_ERROR "QV_TEST_HTTP_PORT must be a port from 1024 to 65535 other than 8080")
endif()
find_program(PYTHON3_PROGRAM python3 REQUIRED)

set(_test_http_server_fixture ${PYTHON3_PROGRAM} ${CMAKE_CURRENT_LIST_DIR}/fixture.py)
set(_test_http_server_files --port ${QV_TEST_HTTP_PORT}
    --state ${CMAKE_CURRENT_BINARY_DIR}/test_http_server.state.json)
add_test(NAME test_http_server_start COMMAND ${_test_http_server_fixture} start
         ${_test_http_server_files} --log ${CMAKE_CURRENT_BINARY_DIR}/test_http_server.log)
set_tests_properties(test_http_server_start PROPERTIES FIXTURES_SETUP test_http_server TIMEOUT 180)
add_test(NAME test_http_server_stop COMMAND ${_test_http_server_fixture} stop
         ${_test_http_server_files})
set_tests_properties(test_http_server_stop PROPERTIES FIXTURES_CLEANUP test_http_server TIMEOUT 60)

# use_test_http_server(<test>): the test runs while the server is up, one such test at a
# time (they share its scripts), and finds its port in QV_TEST_HTTP_PORT. Call it in the
# folder that added the test.
function(use_test_http_server test)
  set_property(TEST ${test} APPEND PROPERTY FIXTURES_REQUIRED test_http_server)
  set_property(TEST ${test} APPEND PROPERTY RESOURCE_LOCK test_http_server)
  set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT QV_TEST_HTTP_PORT=${QV_TEST_HTTP_PORT})
endfunction()
