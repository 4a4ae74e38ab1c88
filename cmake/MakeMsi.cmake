# Builds the MSI from a fresh install tree of the build (so it carries the
# same stripped, and when configured signed, files as the ZIP), then signs
# the MSI itself when a certificate is configured.
#   cmake -DBUILD=<build dir> -DVERSION=x.y.z -DOUT=<msi> -P MakeMsi.cmake
# VERSION may differ from the project's: the MSI round trip test makes a
# higher one from the same files to test an upgrade.
cmake_minimum_required(VERSION 3.25)
get_filename_component(source ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
load_cache(${BUILD} READ_WITH_PREFIX cache_ ZEL_SIGN_PFX ZEL_SIGN_PASSWORD_FILE
           ZEL_SIGN_TIMESTAMP_URL ZEL_OSSLSIGNCODE ZEL_WIXL)
set(stage ${OUT}.stage)
file(REMOVE_RECURSE ${stage})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${stage}
                OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
get_filename_component(out_dir ${OUT} DIRECTORY)
file(MAKE_DIRECTORY ${out_dir})
file(REMOVE ${OUT})
# wixl looks the File sources up relative to the working directory.
execute_process(COMMAND ${cache_ZEL_WIXL} -a x64 -D Version=${VERSION} -o ${OUT}
                        ${source}/installer/zel-portmon.wxs
                WORKING_DIRECTORY ${stage} RESULT_VARIABLE rc OUTPUT_VARIABLE output
                ERROR_VARIABLE output)
if(NOT rc EQUAL 0 OR NOT EXISTS ${OUT})
  message(FATAL_ERROR "wixl failed:\n${output}")
endif()
file(REMOVE_RECURSE ${stage})
if(cache_ZEL_SIGN_PFX)
  execute_process(COMMAND ${CMAKE_COMMAND} -DOSSLSIGNCODE=${cache_ZEL_OSSLSIGNCODE}
                          -DPFX=${cache_ZEL_SIGN_PFX} -DPASSWORD_FILE=${cache_ZEL_SIGN_PASSWORD_FILE}
                          -DTIMESTAMP_URL=${cache_ZEL_SIGN_TIMESTAMP_URL} -DFILES=${OUT}
                          -P ${source}/cmake/Sign.cmake COMMAND_ERROR_IS_FATAL ANY)
endif()
message(STATUS "made ${OUT}")
