set(AURALINK_HELPERS_DIR ${CMAKE_CURRENT_LIST_DIR})

# Warnings for our own code only (third-party headers stay quiet).
function(auralink_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()

# auralink_test(NAME SOURCES... LIBS ... [TIMEOUT seconds]): one GoogleTest executable
# registered with CTest; TIMEOUT limits each of its test cases.
# A program the Windows build skips (cmake/WindowsTests.cmake) is not made at all; cases it
# skips are left out by a filter.
function(auralink_test name)
  cmake_parse_arguments(T "" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(AURALINK_TEST_SKIPPED_${name})
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  auralink_warnings(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main)
  set(discovery DISCOVERY_TIMEOUT 60)
  if(AURALINK_TEST_FILTER_${name})
    list(APPEND discovery TEST_FILTER "${AURALINK_TEST_FILTER_${name}}")
  endif()
  if(T_TIMEOUT)
    gtest_discover_tests(${name} ${discovery} PROPERTIES TIMEOUT ${T_TIMEOUT})
  else()
    gtest_discover_tests(${name} ${discovery})
  endif()
endfunction()

# auralink_com_server(NAME SOURCES... LIBS ...): a loadable COM server module.
function(auralink_com_server name)
  cmake_parse_arguments(M "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} MODULE ${M_SOURCES})
  if(WIN32)
    # "<name>.dll", exporting the four entry points and nothing else.
    target_sources(${name} PRIVATE ${AURALINK_HELPERS_DIR}/com_server.def)
    set_target_properties(${name} PROPERTIES PREFIX "")
  else()
    # Each server keeps its own inline code and module object; only the entry points are exported.
    # Installed in <libdir>/auralink, so the shared libraries are one folder up.
    set_target_properties(${name} PROPERTIES PREFIX "lib" CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
      INSTALL_RPATH "$ORIGIN/..")
  endif()
  auralink_warnings(${name})
  target_link_libraries(${name} PRIVATE ${M_LIBS})
  install(TARGETS ${name} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}/auralink)
endfunction()

# auralink_registration_script(<module> CLASS <name> PROGID <progid> [DESCRIPTION <text>])
#
# The registration script of one creatable class of a COM server module, made from
# registration_script.h.in: the ProgIDs "<progid>.1" and "<progid>", and the CLSID key
# naming the module as an apartment-threaded in-process server with its type library.
# DESCRIPTION (the keys' default text) defaults to "<name> Class". The module gets the
# header "<name in lower case>_registration.h" defining k<name>RegistrationScript, which
# the class hands to DECLARE_REGISTRY_SCRIPT. One call per class; a module may hold several:
#
#   auralink_registration_script(Marrowby CLASS Listening PROGID Marrowby.Listening)
#   auralink_registration_script(Marrowby CLASS Processing PROGID Marrowby.Processing)
#
#   #include "listening_registration.h"
#   class CListening ... { DECLARE_REGISTRY_SCRIPT(kListeningRegistrationScript) ... };
function(auralink_registration_script module)
  cmake_parse_arguments(R "" "CLASS;PROGID;DESCRIPTION" "" ${ARGN})
  if(NOT R_CLASS MATCHES "^[A-Za-z][A-Za-z0-9_]*$")
    message(FATAL_ERROR "auralink_registration_script(${module}): CLASS must be a C++ name, got '${R_CLASS}'")
  endif()
  # Script tokens end at blanks, and %...% would be taken for a replacement.
  if(NOT R_PROGID MATCHES "^[A-Za-z][A-Za-z0-9_]*(\\.[A-Za-z0-9_]+)+$")
    message(FATAL_ERROR "auralink_registration_script(${module}): PROGID must look like Program.Class, got '${R_PROGID}'")
  endif()
  if(NOT DEFINED R_DESCRIPTION)
    set(R_DESCRIPTION "${R_CLASS} Class")
  endif()
  if(R_DESCRIPTION MATCHES "[\n\r]" OR R_DESCRIPTION MATCHES "\\)script\"")
    message(FATAL_ERROR "auralink_registration_script(${module}): DESCRIPTION must fit on one line")
  endif()
  # Quoted script text writes a quote as '' and a percent sign as %%.
  string(REPLACE "'" "''" R_DESCRIPTION "${R_DESCRIPTION}")
  string(REPLACE "%" "%%" R_DESCRIPTION "${R_DESCRIPTION}")

  set(REGISTRATION_CLASS "${R_CLASS}")
  set(REGISTRATION_PROGID "${R_PROGID}")
  set(REGISTRATION_DESCRIPTION "${R_DESCRIPTION}")
  string(TOLOWER "${R_CLASS}" header)
  set(folder "${CMAKE_CURRENT_BINARY_DIR}/registration/${module}")
  configure_file("${CMAKE_CURRENT_FUNCTION_LIST_DIR}/registration_script.h.in" "${folder}/${header}_registration.h"
    @ONLY)
  target_sources(${module} PRIVATE "${folder}/${header}_registration.h")
  target_include_directories(${module} PRIVATE "${folder}")
endfunction()

# auralink_type_library(<module> IDL <file>)
#
# The type library of a COM server module, described by <file> (which imports
# contracts/idl/auralink.idl). The module gets the header "type_library_interfaces.h"
# defining kTypeLibraryInterfaces, the interfaces the library names (for DECLARE_DLL_MAIN,
# so that registration on Linux writes their keys). On Windows widl makes "<module>.tlb",
# which the module carries as its TYPELIB resource 1 and registers with RegisterTypeLib.
function(auralink_type_library module)
  cmake_parse_arguments(L "" "IDL" "" ${ARGN})
  get_filename_component(idl "${L_IDL}" ABSOLUTE)
  set(folder "${CMAKE_CURRENT_BINARY_DIR}/type_library/${module}")
  set(contracts_idl "${PROJECT_SOURCE_DIR}/contracts/idl")
  file(READ "${idl}" text)
  string(REGEX MATCHALL "interface[ \t]+I[A-Za-z0-9_]+" named "${text}")
  set(interfaces "")
  foreach(entry ${named})
    string(REGEX REPLACE "interface[ \t]+" "" name "${entry}")
    list(APPEND interfaces ${name})
  endforeach()
  list(REMOVE_DUPLICATES interfaces)
  set(rows "")
  foreach(name ${interfaces})
    string(APPEND rows "    {\"${name}\", &IID_${name}},\n")
  endforeach()
  file(CONFIGURE OUTPUT "${folder}/type_library_interfaces.h" CONTENT
"// Generated from ${L_IDL} by auralink_type_library(): the interfaces of the type library.
#pragma once
#include <auralink/guids.h>
#include <statreg.h>

inline constexpr auralink::platform::TypeLibraryInterface kTypeLibraryInterfaces[] = {
${rows}    {nullptr, nullptr},
};
")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${idl}")
  target_sources(${module} PRIVATE "${folder}/type_library_interfaces.h")
  target_include_directories(${module} PRIVATE "${folder}")
  if(WIN32)
    set(tlb "${folder}/${module}.tlb")
    add_custom_command(OUTPUT "${tlb}"
      COMMAND ${AURALINK_WIDL} -t -I "${contracts_idl}" -o "${tlb}" "${idl}"
      DEPENDS "${idl}" "${contracts_idl}/auralink.idl"
      COMMENT "Making the type library ${module}.tlb"
      VERBATIM)
    file(CONFIGURE OUTPUT "${folder}/${module}_type_library.rc" CONTENT "1 TYPELIB \"${tlb}\"\n")
    set_source_files_properties("${folder}/${module}_type_library.rc" PROPERTIES OBJECT_DEPENDS "${tlb}")
    target_sources(${module} PRIVATE "${folder}/${module}_type_library.rc" "${tlb}")
  endif()
endfunction()
