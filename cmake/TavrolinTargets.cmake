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

# One test executable per folder under tests/, discovered by CTest.
function(tavrolin_test target folder)
    file(GLOB _sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/${folder}/*.cpp")
    if(NOT _sources)
        return()
    endif()
    add_executable(${target} ${_sources})
    target_link_libraries(${target} PRIVATE ${ARGN} tavrolin_test_support GTest::gmock GTest::gtest_main)
    gtest_discover_tests(${target} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300)
endfunction()
