# Runs at install time (see wakora_configure_for_prefix in WakoraInstall.cmake).
#
# wakora_install_configured(<template> <destination> <name> <stage> <pairs>)
#
# Writes <template> with each variable of <pairs> (variable;path;...) set to
# the path under the prefix of this installation, then installs it to
# <prefix>/<destination>/<name>. CMAKE_INSTALL_PREFIX is the prefix given to
# `cmake --install --prefix`, or the one CPack packages for; DESTDIR, when
# set, only moves where the file lands, never what it says.
function(wakora_install_configured template destination name stage pairs)
    get_filename_component(prefix "${CMAKE_INSTALL_PREFIX}" ABSOLUTE)
    while(pairs)
        list(POP_FRONT pairs variable path)
        if(IS_ABSOLUTE "${path}")
            set(${variable} "${path}")
        else()
            set(${variable} "${prefix}/${path}")
        endif()
    endwhile()
    # One staging folder per target location, so installations to several
    # prefixes at once never overwrite each other's files.
    string(SHA1 key "$ENV{DESTDIR}|${prefix}")
    set(staged "${stage}/${key}/${name}")
    configure_file("${template}" "${staged}" @ONLY)
    if(IS_ABSOLUTE "${destination}")
        set(target "${destination}")
    else()
        set(target "${prefix}/${destination}")
    endif()
    file(INSTALL DESTINATION "${target}" TYPE FILE FILES "${staged}")
endfunction()
