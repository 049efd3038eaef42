# How Wakora's files reach a prefix. Nothing installed may depend on the
# prefix given at configure time: `cmake --install build --prefix P` and the
# package (staged for /usr) both get files that name P.

# wakora_install_program(<target> <destination>)
#
# Installs a program to <destination> (relative to the prefix) with a
# RUNPATH relative to its own folder, so it finds the private libLidBridge.so
# in the same prefix's <libdir>/wakora wherever that prefix is.
function(wakora_install_program target destination)
    if(IS_ABSOLUTE "${WAKORA_PRIVATE_LIBDIR}" OR IS_ABSOLUTE "${destination}")
        set(libdir "${CMAKE_INSTALL_PREFIX}/${WAKORA_PRIVATE_LIBDIR}")
    else()
        file(RELATIVE_PATH relative "/${destination}" "/${WAKORA_PRIVATE_LIBDIR}")
        set(libdir "$ORIGIN/${relative}")
    endif()
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "${libdir}")
    install(TARGETS ${target} RUNTIME DESTINATION ${destination})
endfunction()

# wakora_configure_for_prefix(<template> DESTINATION <dir> [RENAME <name>]
#                             [PATHS <variable> <path-in-prefix> ...])
#
# A text file that names paths of the prefix: each @<variable>@ in the
# template becomes <prefix>/<path-in-prefix>. It is written twice: into the
# build tree's <dir> (the prefix being the build tree, which mirrors the
# install layout) at configure time, and into the installed prefix's <dir>
# at install time, with the prefix the installation is made for.
function(wakora_configure_for_prefix template)
    cmake_parse_arguments(ARG "" "DESTINATION;RENAME" "PATHS" ${ARGN})
    get_filename_component(template "${template}" ABSOLUTE)
    if(ARG_RENAME)
        set(name "${ARG_RENAME}")
    else()
        get_filename_component(name "${template}" NAME)
        string(REGEX REPLACE "\\.in$" "" name "${name}")
    endif()
    list(LENGTH ARG_PATHS count)
    math(EXPR odd "${count} % 2")
    if(odd)
        message(FATAL_ERROR "wakora_configure_for_prefix: PATHS takes pairs of variable and path")
    endif()

    set(pairs ${ARG_PATHS})
    while(pairs)
        list(POP_FRONT pairs variable path)
        set(${variable} "${CMAKE_BINARY_DIR}/${path}")
    endwhile()
    configure_file("${template}" "${CMAKE_BINARY_DIR}/${ARG_DESTINATION}/${name}" @ONLY)

    install(CODE "include([[${PROJECT_SOURCE_DIR}/cmake/InstallConfigured.cmake]])
wakora_install_configured([[${template}]] [[${ARG_DESTINATION}]] [[${name}]]
    [[${CMAKE_CURRENT_BINARY_DIR}/install-time]] [[${ARG_PATHS}]])")
endfunction()
