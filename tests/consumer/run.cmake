# Installs the built project into a scratch prefix, then configures, builds and runs a host project
# (SOURCE_DIR, whose one program is PROGRAM, run with RUN_ARGS and expected to print EXPECT): once
# through the CMake package, once with the flags pkg-config gives.
if(NOT PROGRAM)
    set(PROGRAM consumer)
    set(EXPECT "consumer ok")
endif()
file(REMOVE_RECURSE "${WORK_DIR}")
set(prefix "${WORK_DIR}/prefix")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${prefix}" RESULT_VARIABLE rc)
if(rc)
    message(FATAL_ERROR "install failed: ${rc}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -S "${SOURCE_DIR}" -B "${WORK_DIR}/build" -G "${GENERATOR}"
                        "-DCMAKE_PREFIX_PATH=${prefix}"
                        # A sanitized library needs a sanitized host.
                        "-DCMAKE_CXX_FLAGS=${CONSUMER_FLAGS}" "-DCMAKE_EXE_LINKER_FLAGS=${CONSUMER_FLAGS}"
                        RESULT_VARIABLE rc)
if(rc)
    message(FATAL_ERROR "configuring the consumer failed: ${rc}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build "${WORK_DIR}/build" RESULT_VARIABLE rc)
if(rc)
    message(FATAL_ERROR "building the consumer failed: ${rc}")
endif()
execute_process(COMMAND "${WORK_DIR}/build/${PROGRAM}" ${RUN_ARGS} RESULT_VARIABLE rc OUTPUT_VARIABLE out
                ERROR_VARIABLE err)
message(STATUS "${out}${err}")
if(NOT rc EQUAL 0 OR NOT out MATCHES "${EXPECT}")
    message(FATAL_ERROR "${PROGRAM} failed: ${rc}")
endif()

# The same host built with nothing but pkg-config's flags, as a host without CMake would.
set(ENV{PKG_CONFIG_PATH} "${prefix}/${LIBDIR}/pkgconfig")
execute_process(COMMAND "${PKG_CONFIG}" --cflags --libs avatarsystem
                RESULT_VARIABLE rc OUTPUT_VARIABLE flags ERROR_VARIABLE error OUTPUT_STRIP_TRAILING_WHITESPACE)
if(rc)
    message(FATAL_ERROR "pkg-config does not know avatarsystem: ${error}")
endif()
message(STATUS "pkg-config --cflags --libs avatarsystem: ${flags}")
separate_arguments(flags UNIX_COMMAND "${flags}")
set(extra)
if(CONSUMER_FLAGS)
    separate_arguments(extra UNIX_COMMAND "${CONSUMER_FLAGS}")
endif()
# Where OGRE's plugins lie, for a host that loads a render system.
execute_process(COMMAND "${PKG_CONFIG}" --variable=plugindir OGRE OUTPUT_VARIABLE plugins OUTPUT_STRIP_TRAILING_WHITESPACE)
set(program "${WORK_DIR}/${PROGRAM}-pkgconfig")
execute_process(COMMAND "${CXX}" -std=c++17 ${extra} "-DOGRE_PLUGIN_DIR=\"${plugins}\"" "${SOURCE_DIR}/main.cpp"
                        -o "${program}" ${flags}
                        "-Wl,-rpath,${prefix}/${LIBDIR}"
                RESULT_VARIABLE rc)
if(rc)
    message(FATAL_ERROR "building ${PROGRAM} with pkg-config's flags failed: ${rc}")
endif()
execute_process(COMMAND "${program}" ${RUN_ARGS} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
message(STATUS "${out}${err}")
if(NOT rc EQUAL 0 OR NOT out MATCHES "${EXPECT}")
    message(FATAL_ERROR "${PROGRAM} built with pkg-config failed: ${rc}")
endif()
