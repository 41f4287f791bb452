# Builds the embedded resources: icons (with colour variants), logos rendered from SVG, the style
# sheets, the translations and the interface font cut down to the characters the interface uses.
set(RES_DIR ${CMAKE_CURRENT_SOURCE_DIR}/resources)
set(GEN_DIR ${CMAKE_CURRENT_BINARY_DIR}/generated)
file(MAKE_DIRECTORY ${GEN_DIR}/assets)

# Icon colour variants: grey line icons turn blue on hover or when active, light grey when disabled.
set(ICON_GREY "#4A5560")
set(ICON_BLUE "#004B6A")
set(ICON_OFF "#C3C3C3")
set(PLAYBAR_ICONS btn_playbar_prev btn_playbar_next btn_playbar_stop btn_playbar_loop btn_playbar_record
    btn_playbar_DVS btn_playbar_APS btn_playbar_Fusion btn_viewer_setting)
set(SIDEBAR_ICONS btn_sidebar_camera btn_sidebar_dvs btn_sidebar_aps btn_sidebar_general)
set(ICON_VARIANTS)
function(icon_variant src dst)
  file(READ ${RES_DIR}/assets/${src}.svg text)
  set(pairs ${ARGN})
  while(pairs)
    list(POP_FRONT pairs from to)
    string(REPLACE "${from}" "${to}" text "${text}")
  endwhile()
  file(CONFIGURE OUTPUT ${GEN_DIR}/assets/${dst}.svg CONTENT "${text}" @ONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${RES_DIR}/assets/${src}.svg)
  set(ICON_VARIANTS ${ICON_VARIANTS} ${dst} PARENT_SCOPE)
endfunction()
foreach(icon ${PLAYBAR_ICONS})
  icon_variant(${icon} ${icon}_hover "${ICON_GREY}" "${ICON_BLUE}")
  icon_variant(${icon} ${icon}_disabled "${ICON_GREY}" "${ICON_OFF}" "#FF6058" "${ICON_OFF}")
endforeach()
foreach(icon ${SIDEBAR_ICONS})
  icon_variant(${icon} ${icon}_active "${ICON_GREY}" "${ICON_BLUE}")
endforeach()

# Logos: PNG files rendered from our SVG drawings by a small build tool.
add_executable(svgtopng ${RES_DIR}/generators/svgtopng.cpp)
target_link_libraries(svgtopng PRIVATE Qt5::Svg Qt5::Gui)
set_target_properties(svgtopng PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
set(LOGO_NAV ${GEN_DIR}/assets/logo_navigate.png)
set(LOGO_VERSION ${GEN_DIR}/assets/logo_system_version.png)
add_custom_command(OUTPUT ${LOGO_NAV}
  COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
          $<TARGET_FILE:svgtopng> ${RES_DIR}/assets/logo_mark.svg ${LOGO_NAV} 128 128
  DEPENDS svgtopng ${RES_DIR}/assets/logo_mark.svg VERBATIM)
add_custom_command(OUTPUT ${LOGO_VERSION}
  COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
          $<TARGET_FILE:svgtopng> ${RES_DIR}/assets/logo_version.svg ${LOGO_VERSION} 272 300
  DEPENDS svgtopng ${RES_DIR}/assets/logo_version.svg VERBATIM)

# Image set.
file(GLOB HAND_ICONS RELATIVE ${RES_DIR}/assets ${RES_DIR}/assets/*.svg)
set(qrc "<RCC>\n  <qresource prefix=\"/img\">\n")
foreach(icon ${HAND_ICONS})
  string(APPEND qrc "    <file alias=\"assets/${icon}\">${RES_DIR}/assets/${icon}</file>\n")
endforeach()
foreach(icon ${ICON_VARIANTS})
  string(APPEND qrc "    <file alias=\"assets/${icon}.svg\">${GEN_DIR}/assets/${icon}.svg</file>\n")
endforeach()
string(APPEND qrc "    <file alias=\"assets/Norvale logo_navigate.png\">${LOGO_NAV}</file>\n")
string(APPEND qrc "    <file alias=\"assets/Norvale logo_ system-version.png\">${LOGO_VERSION}</file>\n")
# The busy animation, drawn by generators/make_waiting_gif.py.
string(APPEND qrc "    <file alias=\"icon/waiting.gif\">${RES_DIR}/icon/waiting.gif</file>\n")
string(APPEND qrc "  </qresource>\n</RCC>\n")
file(CONFIGURE OUTPUT ${GEN_DIR}/img.qrc CONTENT "${qrc}" @ONLY)

# Window-bar style set.
file(CONFIGURE OUTPUT ${GEN_DIR}/windowbar.qrc CONTENT "<RCC>
  <qresource prefix=\"/styles\">
    <file alias=\"windowbar.qss\">${RES_DIR}/styles/windowbar.qss</file>
    <file alias=\"mainwidget.qss\">${RES_DIR}/styles/mainwidget.qss</file>
  </qresource>
</RCC>
" @ONLY)

# Translation set, compiled by lrelease.
set(TS_FILES ${RES_DIR}/app_en.ts ${RES_DIR}/app_zh.ts)
set_source_files_properties(${TS_FILES} PROPERTIES OUTPUT_LOCATION ${GEN_DIR})
qt5_add_translation(QM_FILES ${TS_FILES})
file(CONFIGURE OUTPUT ${GEN_DIR}/lang.qrc CONTENT "<RCC>
  <qresource prefix=\"/\">
    <file alias=\"app_en.qm\">${GEN_DIR}/app_en.qm</file>
    <file alias=\"app_zh.qm\">${GEN_DIR}/app_zh.qm</file>
  </qresource>
</RCC>
" @ONLY)

set(QRC_FILES ${GEN_DIR}/img.qrc ${GEN_DIR}/windowbar.qrc ${GEN_DIR}/lang.qrc)

# Interface font: the Simplified Chinese face of Noto Sans CJK, cut to Latin plus the characters of
# the translations, renamed to the family the style sheets ask for. Without fontTools or the font
# the viewer is built without it and starts with the default font.
find_program(NORVALE_FONT_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(NOT NORVALE_FONT_PYTHON)
  find_program(NORVALE_FONT_PYTHON NAMES python3)
endif()
set(FONT_OK FALSE)
if(NORVALE_FONT_PYTHON)
  execute_process(COMMAND ${NORVALE_FONT_PYTHON} -c "import fontTools.subset"
                  RESULT_VARIABLE font_py_result OUTPUT_QUIET ERROR_QUIET)
  file(GLOB noto_cjk /usr/share/fonts/opentype/noto/NotoSansCJK-*.ttc
                     /usr/share/fonts/opentype/noto/NotoSansCJKsc-*.otf)
  if(font_py_result EQUAL 0 AND noto_cjk)
    set(FONT_OK TRUE)
  endif()
endif()
if(FONT_OK)
  set(FONT_FILE ${GEN_DIR}/NotoSansSC-Medium.ttf)
  add_custom_command(OUTPUT ${FONT_FILE}
    COMMAND ${NORVALE_FONT_PYTHON} ${RES_DIR}/generators/make_font.py ${FONT_FILE} ${RES_DIR}/app_zh.ts
    DEPENDS ${RES_DIR}/generators/make_font.py ${RES_DIR}/app_zh.ts VERBATIM)
  file(CONFIGURE OUTPUT ${GEN_DIR}/font.qrc CONTENT "<RCC>
  <qresource prefix=\"/font\">
    <file alias=\"NotoSansSC-Medium.ttf\">${FONT_FILE}</file>
  </qresource>
</RCC>
" @ONLY)
  list(APPEND QRC_FILES ${GEN_DIR}/font.qrc)
else()
  message(WARNING "Noto Sans CJK or python3 fontTools missing: the viewer is built without its font")
endif()

qt5_add_resources(RES_SOURCES ${QRC_FILES})
add_library(viewer_resources OBJECT ${RES_SOURCES})
target_link_libraries(viewer_resources PRIVATE Qt5::Core)
