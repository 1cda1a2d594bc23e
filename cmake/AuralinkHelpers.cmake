# Warnings for our own code only (third-party headers stay quiet).
function(auralink_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()

# auralink_test(NAME SOURCES... LIBS ... [TIMEOUT seconds]): one GoogleTest executable
# registered with CTest; TIMEOUT limits each of its test cases.
function(auralink_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  auralink_warnings(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  if(T_TIMEOUT)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT ${T_TIMEOUT})
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
  endif()
endfunction()

# auralink_com_server(NAME SOURCES... LIBS ...): a loadable COM server module.
function(auralink_com_server name)
  cmake_parse_arguments(M "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} MODULE ${M_SOURCES})
  # Each server keeps its own inline code and module object; only the entry points are exported.
  # Installed in <libdir>/auralink, so the shared libraries are one folder up.
  set_target_properties(${name} PROPERTIES PREFIX "lib" CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
    INSTALL_RPATH "$ORIGIN/..")
  auralink_warnings(${name})
  target_link_libraries(${name} PRIVATE ${M_LIBS})
  install(TARGETS ${name} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/auralink)
endfunction()
