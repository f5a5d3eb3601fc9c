# Each core folder becomes one static library of its non-UI sources. Files named
# *ViewModel, *View, *Sheet, *Card, *Row or *Editor belong to the Qt layer and are left out.
function(tavrolin_core_library target folder)
    file(GLOB _sources CONFIGURE_DEPENDS
         "${PROJECT_SOURCE_DIR}/src/${folder}/*.cpp")
    list(FILTER _sources EXCLUDE REGEX "(ViewModel|View|Sheet|Card|Row|Editor)\\.cpp$")
    if(_sources)
        add_library(${target} STATIC ${_sources})
    else()
        add_library(${target} STATIC "${PROJECT_SOURCE_DIR}/cmake/empty.cpp")
    endif()
    target_include_directories(${target} PUBLIC "${PROJECT_SOURCE_DIR}/src")
endfunction()

# The Qt sources of a folder: the complement of the filter above.
function(tavrolin_ui_sources out folder)
    file(GLOB _sources CONFIGURE_DEPENDS
         "${PROJECT_SOURCE_DIR}/src/${folder}/*.cpp")
    list(FILTER _sources INCLUDE REGEX "(ViewModel|View|Sheet|Card|Row|Editor)\\.cpp$")
    set(${out} ${_sources} PARENT_SCOPE)
endfunction()

# One test executable per test source file, so that the files of a folder build on their own.
# `pch` names a target whose precompiled GoogleTest (and Qt) headers the executables reuse.
function(tavrolin_test folder pch)
    file(GLOB _sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.cpp")
    foreach(_source ${_sources})
        get_filename_component(_name ${_source} NAME_WE)
        set(_target "test_${folder}_${_name}")
        add_executable(${_target} ${_source})
        target_link_libraries(${_target} PRIVATE ${ARGN} tavrolin_test_support GTest::gmock
                              GTest::gtest_main)
        target_precompile_headers(${_target} REUSE_FROM ${pch})
        gtest_discover_tests(${_target} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
    endforeach()
endfunction()

# An executable that only carries the precompiled headers, so that its flags match the tests'.
function(tavrolin_test_pch target)
    add_executable(${target} "${PROJECT_SOURCE_DIR}/cmake/empty.cpp")
    target_link_libraries(${target} PRIVATE ${ARGN} tavrolin_test_support GTest::gmock
                          GTest::gtest_main)
endfunction()
