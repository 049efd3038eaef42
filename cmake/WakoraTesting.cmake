# wakora_add_tests(<module> LIBRARIES <libs...> [LABELS <labels...>])
#
# Every tst_<name>.cpp in the calling directory becomes one QtTest executable
# and one CTest test named <module>.<name>. Tests labelled "unit" run without
# any outside service and are the ones the sanitizer build runs.
function(wakora_add_tests module)
    cmake_parse_arguments(ARG "" "" "LIBRARIES;LABELS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/tst_*.cpp)
    foreach(source IN LISTS sources)
        get_filename_component(name ${source} NAME_WE)
        string(REGEX REPLACE "^tst_" "" short ${name})
        set(target ${module}_${name})
        add_executable(${target} ${source})
        set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
        target_link_libraries(${target} PRIVATE Qt6::Test ${ARG_LIBRARIES})
        target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
        target_compile_definitions(${target} PRIVATE WAKORA_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
        add_test(NAME ${module}.${short} COMMAND ${target})
        set_tests_properties(${module}.${short} PROPERTIES
            LABELS "${ARG_LABELS}"
            TIMEOUT 120
            ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C.UTF-8")
        add_dependencies(wakora_tests ${target})
        if("unit" IN_LIST ARG_LABELS)
            add_dependencies(wakora_unit_tests ${target})
        endif()
    endforeach()
endfunction()
