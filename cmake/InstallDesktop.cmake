# Run by `cmake --install`: the desktop entry, the polkit action and the terminal command, written
# for the prefix installed into (so `cmake --install --prefix` gets them right) and installed below
# $DESTDIR like every other file. The polkit action goes into $POLKIT_ACTIONS_DIR when that is set,
# else PREFIX/share/polkit-1/actions.
set(CORVALE_QBX "${CMAKE_INSTALL_PREFIX}/lib/corvale/QBX")
set(work "${CORVALE_BINARY_DIR}/install-files")
file(MAKE_DIRECTORY "${work}")
foreach(name corvale.desktop org.corvale.recovery.policy corvale)
  configure_file("${CORVALE_SOURCE_DIR}/resources/install/${name}.in" "${work}/${name}" @ONLY)
endforeach()
set(actions "$ENV{POLKIT_ACTIONS_DIR}")
if(actions STREQUAL "")
  set(actions "${CMAKE_INSTALL_PREFIX}/share/polkit-1/actions")
endif()
set(read_only OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
set(runnable OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/share/applications" TYPE FILE
     PERMISSIONS ${read_only} FILES "${work}/corvale.desktop")
file(INSTALL DESTINATION "${actions}" TYPE FILE PERMISSIONS ${read_only}
     FILES "${work}/org.corvale.recovery.policy")
file(INSTALL DESTINATION "${CMAKE_INSTALL_PREFIX}/bin" TYPE PROGRAM PERMISSIONS ${runnable}
     FILES "${work}/corvale")
