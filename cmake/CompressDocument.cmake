# Writes one gzipped document of the package:
#   cmake -DGZIP=<gzip> -DSOURCE=<file> -DOUTPUT=<file>.gz [-DSCDOC=<scdoc> [-DEPOCH=<seconds>]] -P CompressDocument.cmake
# With SCDOC, SOURCE is a manual page's scdoc source, made into troff first
# (dated EPOCH when given, rather than today). gzip -9n compresses without a
# name or time of its own, as Debian's documents are.
get_filename_component(folder "${OUTPUT}" DIRECTORY)
file(MAKE_DIRECTORY "${folder}")
set(plain "${OUTPUT}.plain")
if(SCDOC)
    if(EPOCH)
        set(ENV{SOURCE_DATE_EPOCH} "${EPOCH}")
    endif()
    execute_process(COMMAND "${SCDOC}" INPUT_FILE "${SOURCE}" OUTPUT_FILE "${plain}" RESULT_VARIABLE failed)
    if(failed)
        file(REMOVE "${plain}")
        message(FATAL_ERROR "scdoc could not read ${SOURCE}")
    endif()
else()
    configure_file("${SOURCE}" "${plain}" COPYONLY)
endif()
execute_process(COMMAND "${GZIP}" -9 -n -c "${plain}" OUTPUT_FILE "${OUTPUT}" RESULT_VARIABLE failed)
file(REMOVE "${plain}")
if(failed)
    file(REMOVE "${OUTPUT}")
    message(FATAL_ERROR "gzip could not compress ${SOURCE}")
endif()
