# The release package: what an administrator copies to a Windows machine.
#   cmake --install build --prefix <dir>     the files, unpacked
#   cpack --config build/CPackConfig.cmake   zel-portmon-<version>-win64.zip
#   cmake --build build --target release     (make package) the ZIP, the MSI
#                                            and the symbols archive
# The DLL, the two programs and the solicited-job library (sdk/: header,
# library, the example's source) install themselves (their own install rules);
# the Wine host is test infrastructure and stays out (EXCLUDE_FROM_ALL).
install(FILES ${CMAKE_SOURCE_DIR}/docs/install-windows.md ${CMAKE_SOURCE_DIR}/docs/operations.md
              ${CMAKE_SOURCE_DIR}/docs/solicited-jobs.md
        DESTINATION docs)
install(FILES ${CMAKE_SOURCE_DIR}/tools/demo/sample.ps DESTINATION docs)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME zel-portmon)
set(CPACK_PACKAGE_VENDOR "Brambleworth Inc.")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Zel PortMon: print port monitor for Windows x64")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME zel-portmon-${PROJECT_VERSION}-win64)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
# The binaries are stripped right after linking (cmake/Release.cmake); a strip
# here would also break their signatures.
set(CPACK_STRIP_FILES OFF)
# Only what a default install holds: the excluded Wine host has a component of
# its own.
set(CPACK_COMPONENTS_ALL Unspecified)
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
include(CPack)

# Signing (off unless a certificate is given): every shipped binary in an
# install tree (so in the ZIP and the MSI too) and the MSI.
#   cmake --preset default -DZEL_SIGN_PFX=cert.pfx -DZEL_SIGN_PASSWORD_FILE=pass.txt
#         [-DZEL_SIGN_TIMESTAMP_URL=http://timestamp.example]
set(ZEL_SIGN_PFX "" CACHE FILEPATH "PKCS#12 certificate to sign the release with (empty: unsigned)")
set(ZEL_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the certificate's password")
set(ZEL_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 timestamp server for the signatures")
find_program(ZEL_OSSLSIGNCODE osslsigncode)
find_program(ZEL_WIXL wixl)
if(ZEL_SIGN_PFX)
  if(NOT ZEL_OSSLSIGNCODE)
    message(FATAL_ERROR "ZEL_SIGN_PFX is set but osslsigncode is not installed")
  endif()
  get_property(shipped GLOBAL PROPERTY ZEL_SHIPPED_FILES)
  set(to_sign)
  foreach(name IN LISTS shipped)
    list(APPEND to_sign "\${install_dir}/${name}")
  endforeach()
  string(JOIN "," to_sign ${to_sign})
  install(CODE "
    set(install_dir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
    execute_process(COMMAND \"${CMAKE_COMMAND}\" -DOSSLSIGNCODE=${ZEL_OSSLSIGNCODE}
                            \"-DPFX=${ZEL_SIGN_PFX}\" \"-DPASSWORD_FILE=${ZEL_SIGN_PASSWORD_FILE}\"
                            \"-DTIMESTAMP_URL=${ZEL_SIGN_TIMESTAMP_URL}\" \"-DFILES=${to_sign}\"
                            -P \"${CMAKE_SOURCE_DIR}/cmake/Sign.cmake\" COMMAND_ERROR_IS_FATAL ANY)")
endif()

# make package: the ZIP, the MSI beside it, and the shipped binaries' debug
# files in a symbols archive (a debugger finds them by .gnu_debuglink).
set(ZEL_PACKAGE_BASE ${CPACK_PACKAGE_DIRECTORY}/zel-portmon-${PROJECT_VERSION}-win64)
get_property(shipped GLOBAL PROPERTY ZEL_SHIPPED_FILES)
list(TRANSFORM shipped APPEND .debug OUTPUT_VARIABLE debug_files)
add_custom_target(release
  COMMAND ${CMAKE_CPACK_COMMAND} --config ${CMAKE_BINARY_DIR}/CPackConfig.cmake
  COMMAND ${CMAKE_COMMAND} -DBUILD=${CMAKE_BINARY_DIR} -DVERSION=${PROJECT_VERSION}
          -DOUT=${ZEL_PACKAGE_BASE}.msi -P ${CMAKE_SOURCE_DIR}/cmake/MakeMsi.cmake
  COMMAND ${CMAKE_COMMAND} -E tar cf ${ZEL_PACKAGE_BASE}-symbols.zip --format=zip ${debug_files}
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/bin
  COMMENT "Making the ZIP, the MSI and the symbols archive in ${CPACK_PACKAGE_DIRECTORY}"
  VERBATIM)
add_dependencies(release zel_portmon)
foreach(program IN ITEMS zelport zel-dispatch)
  if(TARGET ${program})
    add_dependencies(release ${program})
  endif()
endforeach()
