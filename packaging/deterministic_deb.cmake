# Run by cpack once the packages are made. The members of a .deb carry the modes the umask
# gave the files cpack wrote them from; ar's deterministic mode rewrites them as 0644, owned
# by root, dated 0, so that packing again gives the same bytes.
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.deb$")
    continue()
  endif()
  set(members "${package}.members")
  file(REMOVE_RECURSE "${members}")
  file(MAKE_DIRECTORY "${members}")
  execute_process(COMMAND ar x "${package}" WORKING_DIRECTORY "${members}"
                  COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE "${package}")
  # dpkg wants the members in this order.
  execute_process(COMMAND ar rcSD "${package}" debian-binary control.tar.gz data.tar.gz
                  WORKING_DIRECTORY "${members}" COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${members}")
endforeach()
