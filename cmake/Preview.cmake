# The preview's own package (included at the end of Release.cmake, after the
# shipped module and the player's package are set up):
#
# preview-package/KerbmarkPreview.exe    the preview program, every symbol stripped
# <dist>/Kerbmark-preview-<version>.zip  KerbmarkPreview.exe, Kerbmark.asi (the shipped module,
#                                        the very file of the player's zip), Kerbmark.ini (the player's)
#                                        and KerbmarkPreview.txt (CR LF); listed in SHA256SUMS
#
# The KerbmarkPreview target is defined later (tools/preview); its file is
# taken at generation time.

set(KERBMARK_PREVIEW_PACKAGE_DIR ${PROJECT_BINARY_DIR}/preview-package)
set(KERBMARK_PREVIEW_ZIP ${KERBMARK_DIST_DIR}/Kerbmark-preview-${PROJECT_VERSION}.zip)
set(KERBMARK_SHIPPED_PREVIEW ${KERBMARK_PREVIEW_PACKAGE_DIR}/KerbmarkPreview.exe)

configure_file(${PROJECT_SOURCE_DIR}/package/KerbmarkPreview.txt ${KERBMARK_PREVIEW_PACKAGE_DIR}/KerbmarkPreview.txt
               @ONLY NEWLINE_STYLE CRLF)

add_custom_command(
  OUTPUT ${KERBMARK_SHIPPED_PREVIEW}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${KERBMARK_PREVIEW_PACKAGE_DIR}
  COMMAND ${objcopy} --strip-all $<TARGET_FILE:KerbmarkPreview> ${KERBMARK_SHIPPED_PREVIEW}
  DEPENDS KerbmarkPreview
  COMMENT "Stripping the preview program")
add_custom_target(kerbmark_shipped_preview ALL DEPENDS ${KERBMARK_SHIPPED_PREVIEW})

kerbmark_add_zip(kerbmark_preview_zip ZIP ${KERBMARK_PREVIEW_ZIP}
                 FILES ${KERBMARK_SHIPPED_PREVIEW} ${KERBMARK_SHIPPED_MODULE} ${KERBMARK_PACKAGE_DIR}/Kerbmark.ini
                       ${KERBMARK_PREVIEW_PACKAGE_DIR}/KerbmarkPreview.txt
                 DEPENDS kerbmark_shipped_preview kerbmark_shipped_module)
add_dependencies(dist kerbmark_preview_zip)
