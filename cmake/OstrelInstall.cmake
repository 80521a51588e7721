# What `cmake --install` puts where (any prefix, DESTDIR honoured): the
# program, its desktop entry, icon, AppStream metainfo, man page and shell
# completions. The Debian package (scripts/package) is made from these rules.
include(GNUInstallDirs)

install(TARGETS ostrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

set(ostrel_data ${PROJECT_SOURCE_DIR}/data)
install(FILES ${ostrel_data}/ostrel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${ostrel_data}/io.ostrel.ostrel.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

set(ostrel_icons ${PROJECT_SOURCE_DIR}/resources/icons)
install(FILES ${ostrel_icons}/ostrel.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 24 32 48 64 128 256)
  install(FILES ${ostrel_icons}/ostrel-${size}.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME ostrel.png)
endforeach()

# The man page is installed compressed, as Debian's policy asks.
set(ostrel_man_gz ${CMAKE_BINARY_DIR}/ostrel.1.gz)
add_custom_command(OUTPUT ${ostrel_man_gz}
  COMMAND gzip -9 -n -c ${ostrel_data}/ostrel.1 > ${ostrel_man_gz}
  DEPENDS ${ostrel_data}/ostrel.1
  COMMENT "Compressing the man page")
add_custom_target(ostrel_man ALL DEPENDS ${ostrel_man_gz})
install(FILES ${ostrel_man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(FILES ${ostrel_data}/completion/ostrel.bash
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ostrel)
install(FILES ${ostrel_data}/completion/_ostrel DESTINATION ${CMAKE_INSTALL_DATADIR}/zsh/vendor-completions)
