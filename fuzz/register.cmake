# In the normal tree: one test that builds the clang fuzz tree and runs every target briefly.
if(NOT VESKO_FUZZ)
  add_test(NAME fuzz.short COMMAND ${CMAKE_SOURCE_DIR}/scripts/fuzz --seconds 30)
  # Alone, so the fuzzers' CPU load does not skew the timing of the end-to-end tests.
  set_tests_properties(fuzz.short PROPERTIES LABELS fuzz TIMEOUT 1800 RUN_SERIAL TRUE)
endif()
