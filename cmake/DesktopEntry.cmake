# Run by cmake --install: writes the desktop entry with the installed program's full path in
# Exec. The prefix is known only now (cmake --install --prefix may differ from the one the build
# was configured with). In: QR_SOURCE (the .desktop.in), QR_OUTPUT, QR_BINDIR (relative to the
# prefix, or absolute).
set(bindir "${QR_BINDIR}")
if(NOT IS_ABSOLUTE "${bindir}")
  set(bindir "${CMAKE_INSTALL_PREFIX}/${bindir}")
endif()
set(QR_EXEC "${bindir}/quillmarsh-rall")
string(REPLACE "%" "%%" QR_EXEC "${QR_EXEC}")
if(QR_EXEC MATCHES "[^-A-Za-z0-9_./+,:=@%]")
  # A path with a space or a character the format reserves goes in double quotes, with \ " ` $
  # escaped by a backslash, and every backslash doubled again for the key's string value.
  string(REPLACE "\\" "\\\\\\\\" QR_EXEC "${QR_EXEC}")
  foreach(c "\"" "`" "$")
    string(REPLACE "${c}" "\\\\${c}" QR_EXEC "${QR_EXEC}")
  endforeach()
  set(QR_EXEC "\"${QR_EXEC}\"")
endif()
configure_file("${QR_SOURCE}" "${QR_OUTPUT}" @ONLY)
