# One static library per source area (src/<area>/), sources found by glob so
# that adding a file needs no edit here. An area without sources yet is an
# INTERFACE library so that its dependants still configure.
function(tilvaron_area area)
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    file(GLOB_RECURSE _srcs CONFIGURE_DEPENDS
        ${CMAKE_CURRENT_SOURCE_DIR}/${area}/*.cpp)
    set(_target tv_${area})
    if(_srcs)
        add_library(${_target} STATIC ${_srcs})
        target_include_directories(${_target} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
        target_link_libraries(${_target} PUBLIC ${ARG_DEPS})
    else()
        add_library(${_target} INTERFACE)
        target_include_directories(${_target} INTERFACE ${CMAKE_CURRENT_SOURCE_DIR})
        target_link_libraries(${_target} INTERFACE ${ARG_DEPS})
    endif()
endfunction()

# Test, helper and benchmark programs: one executable per file, linked to the
# area library named by the folder the file sits in (tests/unit/<area>/x_test.cpp).
function(tilvaron_programs_in dir kind)
    file(GLOB _areas LIST_DIRECTORIES true RELATIVE ${dir} ${dir}/*)
    foreach(area IN LISTS _areas)
        if(NOT IS_DIRECTORY ${dir}/${area})
            continue()
        endif()
        file(GLOB _files CONFIGURE_DEPENDS ${dir}/${area}/*.cpp)
        foreach(f IN LISTS _files)
            get_filename_component(_name ${f} NAME_WE)
            set(_exe ${_name})
            add_executable(${_exe} ${f})
            target_link_libraries(${_exe} PRIVATE tv_${area})
            target_include_directories(${_exe} PRIVATE ${CMAKE_SOURCE_DIR}/tests)
            target_compile_definitions(${_exe} PRIVATE
                TILVARON_BIN_DIR="${CMAKE_BINARY_DIR}/bin"
                TILVARON_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
            if(kind STREQUAL "test")
                target_link_libraries(${_exe} PRIVATE GTest::gtest GTest::gmock GTest::gtest_main)
                gtest_discover_tests(${_exe} DISCOVERY_TIMEOUT 60
                    PROPERTIES LABELS ${area})
            elseif(kind STREQUAL "bench")
                target_link_libraries(${_exe} PRIVATE benchmark::benchmark)
            endif()
        endforeach()
    endforeach()
endfunction()
