# Run by CPack on the staged files before it packs them (CPACK_PRE_BUILD_SCRIPTS): the modes in the
# package are rw-r--r-- and rwxr-xr-x whatever the builder's umask was, so packages built on two
# machines hold the same bytes.
execute_process(COMMAND chmod -R u=rwX,go=rX ${CPACK_TEMPORARY_INSTALL_DIRECTORY}
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "Could not set the modes of the staged files: ${result}")
endif()
