# The message catalogues: compiled from the source texts in src/messages/texts by the
# project's nls_compile tool, which runs on the build machine, into resource/ beside the
# launcher.
set(ZORVEX_TEXTS_DIR ${CMAKE_SOURCE_DIR}/src/messages/texts)
set(ZORVEX_CATALOGUES cons cons_de cons_es cons_fr cons_it cons_ja cons_ko cons_pt_BR cons_zh_CN
                       cons_zh_TW)

if(CMAKE_CROSSCOMPILING)
  # The tool must run here, so it is built with the build machine's compiler.
  find_program(ZORVEX_HOST_CXX NAMES g++ c++ REQUIRED)
  set(ZORVEX_NLS_COMPILE ${CMAKE_BINARY_DIR}/host/nls_compile)
  set(_tool_sources ${CMAKE_SOURCE_DIR}/tools/nls_compile.cpp
                    ${CMAKE_SOURCE_DIR}/src/messages/format.cpp)
  add_custom_command(
    OUTPUT ${ZORVEX_NLS_COMPILE}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/host
    COMMAND ${ZORVEX_HOST_CXX} -std=c++20 -O1 -I${CMAKE_SOURCE_DIR}/src ${_tool_sources}
            -o ${ZORVEX_NLS_COMPILE}
    DEPENDS ${_tool_sources} ${CMAKE_SOURCE_DIR}/src/messages/format.h
            ${CMAKE_SOURCE_DIR}/src/messages/message_keys.h
    COMMENT "Building nls_compile for the build machine")
  set(_tool_dep ${ZORVEX_NLS_COMPILE})
else()
  add_executable(nls_compile tools/nls_compile.cpp src/messages/format.cpp)
  target_include_directories(nls_compile PRIVATE ${CMAKE_SOURCE_DIR}/src)
  set(ZORVEX_NLS_COMPILE $<TARGET_FILE:nls_compile>)
  set(_tool_dep nls_compile)
endif()

set(ZORVEX_NLS_FILES)
foreach(catalogue IN LISTS ZORVEX_CATALOGUES)
  set(_out ${CMAKE_BINARY_DIR}/resource/${catalogue}.nls)
  add_custom_command(
    OUTPUT ${_out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/resource
    COMMAND ${ZORVEX_NLS_COMPILE} ${ZORVEX_TEXTS_DIR}/${catalogue}.txt ${_out}
    DEPENDS ${_tool_dep} ${ZORVEX_TEXTS_DIR}/${catalogue}.txt
    COMMENT "Compiling message catalogue ${catalogue}.nls")
  list(APPEND ZORVEX_NLS_FILES ${_out})
endforeach()
add_custom_target(catalogues ALL DEPENDS ${ZORVEX_NLS_FILES})
