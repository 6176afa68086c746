# The preview's own package (included at the end of Release.cmake, after the
# shipped module and the player's package are set up):
#
# <dist>/Kerbmark-preview-<version>.zip  KerbmarkPreview.exe (stripped), Kerbmark.asi (the shipped module,
#                                        the very file of the player's zip), Kerbmark.ini (the player's)
#                                        and KerbmarkPreview.txt (CR LF)
#
# The KerbmarkPreview target is defined later (tools/preview); its file is
# taken at generation time.

set(KERBMARK_PREVIEW_PACKAGE_DIR ${PROJECT_BINARY_DIR}/preview-package)
set(KERBMARK_PREVIEW_ZIP ${KERBMARK_DIST_DIR}/Kerbmark-preview-${PROJECT_VERSION}.zip)
set(KERBMARK_PREVIEW_FILES KerbmarkPreview.exe Kerbmark.asi Kerbmark.ini KerbmarkPreview.txt)

configure_file(${PROJECT_SOURCE_DIR}/package/KerbmarkPreview.txt ${KERBMARK_PREVIEW_PACKAGE_DIR}/KerbmarkPreview.txt
               @ONLY NEWLINE_STYLE CRLF)

add_custom_command(
  OUTPUT ${KERBMARK_PREVIEW_ZIP}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${KERBMARK_DIST_DIR}
  COMMAND ${CMAKE_OBJCOPY} --strip-all $<TARGET_FILE:KerbmarkPreview> KerbmarkPreview.exe
  COMMAND ${CMAKE_COMMAND} -E copy ${KERBMARK_SHIPPED_MODULE} ${KERBMARK_PACKAGE_DIR}/Kerbmark.ini .
  COMMAND ${CMAKE_COMMAND} -E rm -f ${KERBMARK_PREVIEW_ZIP}
  COMMAND ${CMAKE_COMMAND} -E tar cf ${KERBMARK_PREVIEW_ZIP} --format=zip ${KERBMARK_PREVIEW_FILES}
  WORKING_DIRECTORY ${KERBMARK_PREVIEW_PACKAGE_DIR}
  DEPENDS $<TARGET_FILE:KerbmarkPreview> ${KERBMARK_SHIPPED_MODULE} ${KERBMARK_PACKAGE_DIR}/Kerbmark.ini
          ${KERBMARK_PREVIEW_PACKAGE_DIR}/KerbmarkPreview.txt
  COMMENT "Packing ${KERBMARK_PREVIEW_ZIP}")
add_custom_target(dist_preview ALL DEPENDS ${KERBMARK_PREVIEW_ZIP})
add_dependencies(dist_preview KerbmarkPreview kerbmark_shipped_module)
add_dependencies(dist dist_preview)
