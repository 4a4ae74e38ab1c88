# Signs files in place with osslsigncode (Authenticode, SHA-256): the DLL and
# programs of an install tree, or an MSI.
#   cmake -DOSSLSIGNCODE=... -DPFX=<certificate.pfx> [-DPASSWORD_FILE=<file>]
#         [-DTIMESTAMP_URL=<url>] -DFILES=<path>,<path>... -P Sign.cmake
cmake_minimum_required(VERSION 3.25)
string(REPLACE "," ";" FILES "${FILES}")
set(options -pkcs12 ${PFX} -h sha256 -n "Zel PortMon")
if(PASSWORD_FILE)
  list(APPEND options -readpass ${PASSWORD_FILE})
endif()
if(TIMESTAMP_URL)
  list(APPEND options -ts ${TIMESTAMP_URL})
endif()
foreach(file IN LISTS FILES)
  file(REMOVE ${file}.signed)
  execute_process(COMMAND ${OSSLSIGNCODE} sign ${options} -in ${file} -out ${file}.signed
                  RESULT_VARIABLE rc OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT rc EQUAL 0)
    file(REMOVE ${file}.signed)
    message(FATAL_ERROR "signing ${file} failed:\n${output}")
  endif()
  file(RENAME ${file}.signed ${file})
  message(STATUS "signed ${file}")
endforeach()
