# The HTML editor component, its command table and the engine's interface declarations.
add_library(zbhtmledit STATIC
  ${CMAKE_CURRENT_LIST_DIR}/zbMsHtml_tlb.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zbShDocVw_tlb.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zbHtmlCmds.cpp
  ${CMAKE_CURRENT_LIST_DIR}/zbHtmlEd.cpp
)
target_include_directories(zbhtmledit PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(zbhtmledit PUBLIC zbhtmlprint zbwebkit zbsupport PRIVATE zb_warnings)
