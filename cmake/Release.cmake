# What makes a shipped binary (the DLL, zelport, zel-dispatch) release-grade:
#  - stack protection (set for the whole tree in the top-level CMakeLists.txt);
#  - a version resource from the project version (cmake/version.rc.in);
#  - stripped right after linking, so build/bin, `cmake --install`, the ZIP
#    and the MSI all carry the stripped file; the debug information goes into
#    <file>.debug beside it, which the stripped file names in its
#    .gnu_debuglink section (the symbols archive collects them);
enable_language(RC)

set(ZEL_COMPANY "Brambleworth Inc.")
set(ZEL_PRODUCT_NAME "Zel PortMon")
set(ZEL_COPYRIGHT "Copyright (C) 2026 Brambleworth Inc.")

# zel_shipped_binary(<target> <description>)
# Call it in the folder that makes the target (a build step can only be
# attached there). Adds the file's name to the global ZEL_SHIPPED_FILES (the
# binary inspection, signing and the symbols archive use the list).
function(zel_shipped_binary target description)
  get_target_property(type ${target} TYPE)
  get_target_property(output_name ${target} OUTPUT_NAME)
  if(NOT output_name)
    set(output_name ${target})
  endif()
  if(type STREQUAL "SHARED_LIBRARY")
    set(ZEL_FILE_TYPE VFT_DLL)
    set(ZEL_ORIGINAL_NAME ${output_name}.dll)
  else()
    set(ZEL_FILE_TYPE VFT_APP)
    set(ZEL_ORIGINAL_NAME ${output_name}.exe)
  endif()
  set(ZEL_FILE_DESCRIPTION "${description}")
  set(ZEL_INTERNAL_NAME ${output_name})
  set(rc ${CMAKE_BINARY_DIR}/version/${target}.rc)
  configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})

  set(file $<TARGET_FILE:${target}>)
  add_custom_command(TARGET ${target} POST_BUILD
                     COMMAND ${CMAKE_OBJCOPY} --only-keep-debug ${file} ${file}.debug
                     COMMAND ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=${file}.debug ${file}
                     VERBATIM)
  set_property(GLOBAL APPEND PROPERTY ZEL_SHIPPED_FILES ${ZEL_ORIGINAL_NAME})
endfunction()
