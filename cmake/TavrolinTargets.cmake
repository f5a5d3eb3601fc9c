# Called from a source folder's own CMakeLists.txt, which names its files:
#   tavrolin_folder(<name> CORE <plain C++ sources> UI <Qt sources and headers> LINKS <deps>)
# CORE files form the static library tavrolin_<name> (no Qt), added to tavrolin_core; UI files
# join the Qt library of the folder's layer (see tavrolin_ui_library) and are left out of a
# build without Qt.
function(tavrolin_folder name)
    cmake_parse_arguments(ARG "" "" "CORE;UI;LINKS" ${ARGN})
    if(ARG_CORE)
        add_library(tavrolin_${name} STATIC ${ARG_CORE})
        # Modules link core code too.
        set_target_properties(tavrolin_${name} PROPERTIES POSITION_INDEPENDENT_CODE ON)
        target_include_directories(tavrolin_${name} PUBLIC "${PROJECT_SOURCE_DIR}/src")
        target_link_libraries(tavrolin_${name} PUBLIC ${ARG_LINKS})
        target_link_libraries(tavrolin_core INTERFACE tavrolin_${name})
    endif()
    if(ARG_UI AND TAVROLIN_WITH_QT)
        list(TRANSFORM ARG_UI PREPEND "${CMAKE_CURRENT_SOURCE_DIR}/")
        tavrolin_ui_library(${name} _library)
        target_sources(${_library} PRIVATE ${ARG_UI})
    endif()
endfunction()

# The Qt library a folder's UI files join, by layer: the widget kit's (with the Qt folders below
# it, TAVROLIN_BELOW_KIT), the shell's, or else the features'.
function(tavrolin_ui_library name out)
    if(name STREQUAL "widgets" OR name IN_LIST TAVROLIN_BELOW_KIT)
        set(${out} tavrolin_widgets PARENT_SCOPE)
    elseif(name STREQUAL "shell")
        set(${out} tavrolin_shell PARENT_SCOPE)
    else()
        set(${out} tavrolin_ui PARENT_SCOPE)
    endif()
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
        # No per-test TIMEOUT: it would override the test preset's, and the sanitizer build
        # needs its longer one.
        gtest_discover_tests(${_target} DISCOVERY_TIMEOUT 60)
    endforeach()
endfunction()

# An executable that only carries the precompiled headers, so that its flags match the tests'.
function(tavrolin_test_pch target)
    add_executable(${target} "${PROJECT_SOURCE_DIR}/cmake/empty.cpp")
    target_link_libraries(${target} PRIVATE ${ARGN} tavrolin_test_support GTest::gmock
                          GTest::gtest_main)
endfunction()

# A module the program opens on first use (see process/ModuleLoader.h): built beside the
# executable, where the loader looks first, and installed in <prefix>/lib/tavrolin.
function(tavrolin_module name)
    cmake_parse_arguments(ARG "" "" "SOURCES;LINKS" ${ARGN})
    add_library(${name} MODULE ${ARG_SOURCES})
    target_include_directories(${name} PRIVATE "${PROJECT_SOURCE_DIR}/src")
    target_link_libraries(${name} PRIVATE ${ARG_LINKS})
    # Its copies of core code stay its own: only the entry point is exported.
    target_link_options(${name} PRIVATE "LINKER:--exclude-libs,ALL")
    set_target_properties(${name} PROPERTIES LIBRARY_OUTPUT_DIRECTORY "${CMAKE_BINARY_DIR}")
    install(TARGETS ${name} LIBRARY DESTINATION lib/tavrolin)
    # Whatever links the core (program, tests, benchmarks) finds the module built.
    add_dependencies(tavrolin_core ${name})
endfunction()
