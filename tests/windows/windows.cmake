# The unit tests on Windows: the plug-in's code against the scripted provider,
# which is registered with COM itself; the service components and the data
# conversion library are the system's (oledb32.dll). tests/unit/platform
# tests the project's own COM run time, which Windows replaces; the provider,
# TDS and integration suites need the Linux build's test server and provider.

set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)

# The scripted provider, with the platform's error objects, and its client
# cursor for the client cursor's tests.
file(GLOB RZ_SUPPORT_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/support/scripted*.cpp)
add_library(rz_scripted STATIC ${RZ_SUPPORT_SOURCES}
  ${CMAKE_CURRENT_SOURCE_DIR}/support/classregistration.cpp)
target_include_directories(rz_scripted PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/support)
target_link_libraries(rz_scripted PUBLIC rz_driver rz_provider_services GTest::gtest)

# Each test program enters COM's multithreaded apartment before any test, as
# the plug-in does, so the classes tests register are seen from every thread.
add_library(rz_windows_testmain STATIC ${CMAKE_CURRENT_SOURCE_DIR}/support/windowstestmain.cpp)
target_link_libraries(rz_windows_testmain PUBLIC rz_platform GTest::gtest)
set_property(TARGET rz_windows_testmain PROPERTY AUTOMOC OFF)

file(GLOB RZ_UNIT_AREAS LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/unit/*)
foreach(area_dir ${RZ_UNIT_AREAS})
  get_filename_component(area ${area_dir} NAME)
  file(GLOB area_sources CONFIGURE_DEPENDS ${area_dir}/*.cpp)
  if(NOT IS_DIRECTORY ${area_dir} OR NOT area_sources OR area STREQUAL "platform")
    continue()
  endif()
  add_executable(unit_${area} ${area_sources})
  target_link_libraries(unit_${area} PRIVATE rz_scripted rz_windows_testmain GTest::gmock)
  if(EXISTS ${area_dir}/CMakeLists.txt)
    include(${area_dir}/CMakeLists.txt)
  endif()
  # Run under the cross-compiling emulator (Wine) by ctest.
  add_test(NAME unit.${area} COMMAND unit_${area})
endforeach()

# A Qt program that loads the built DLL through Qt's plug-in loader.
add_executable(pluginloader_test ${CMAKE_CURRENT_SOURCE_DIR}/windows/pluginloader_test.cpp)
target_link_libraries(pluginloader_test PRIVATE rz_qt GTest::gtest)
add_dependencies(pluginloader_test qsqlrezuvedov)
add_test(NAME pluginloader COMMAND pluginloader_test)

# The live session's program (run by scripts/windows/live-session).
add_subdirectory(${CMAKE_CURRENT_SOURCE_DIR}/livesession ${CMAKE_BINARY_DIR}/tests/livesession)
