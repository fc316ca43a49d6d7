# In the normal tree: one test that builds the clang fuzz tree and runs every target briefly.
if(NOT VESKO_FUZZ)
  add_test(NAME fuzz.short COMMAND ${CMAKE_SOURCE_DIR}/scripts/fuzz --seconds 30)
  # Alone, so the fuzzers' CPU load does not skew the timing of the end-to-end tests.
  set_tests_properties(fuzz.short PROPERTIES LABELS fuzz TIMEOUT 1800 RUN_SERIAL TRUE)
endif()

# The soaks build a sanitized daemon or run under valgrind, and VESKO_SOAK_CYCLES=200 takes
# minutes: more time, and alone, since the other end-to-end tests time the greeter's answers.
foreach(heavy e2e.soak e2e.soak_asan e2e.soak_valgrind)
  if(TEST ${heavy})
    set_tests_properties(${heavy} PROPERTIES TIMEOUT 1800 RUN_SERIAL TRUE)
  endif()
endforeach()
