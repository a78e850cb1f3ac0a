# Settings every target of the project takes, through one INTERFACE target rather than global flags.
add_library(veltrane_common INTERFACE)
target_compile_features(veltrane_common INTERFACE cxx_std_20)
target_compile_options(veltrane_common INTERFACE
  -Wall -Wextra -Wpedantic -Wold-style-cast -Wnon-virtual-dtor)
target_compile_definitions(veltrane_common INTERFACE
  QT_NO_KEYWORDS
  VELTRANE_SUPPORT_EMAIL="${VELTRANE_SUPPORT_EMAIL}")
target_include_directories(veltrane_common INTERFACE ${PROJECT_SOURCE_DIR})
if(VELTRANE_WERROR)
  target_compile_options(veltrane_common INTERFACE -Werror)
endif()
if(VELTRANE_SANITIZE)
  target_compile_options(veltrane_common INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(veltrane_common INTERFACE -fsanitize=address,undefined)
endif()

# veltrane_library(<target> PUBLIC <deps...> [PRIVATE <deps...>])
# One static library per folder, made of every .cpp/.h in the folder except main.cpp.
function(veltrane_library target)
  cmake_parse_arguments(L "" "" "PUBLIC;PRIVATE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/main.cpp)
  file(GLOB cpp CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  list(REMOVE_ITEM cpp ${CMAKE_CURRENT_SOURCE_DIR}/main.cpp)
  if(cpp)
    add_library(${target} STATIC ${sources})
    target_link_libraries(${target} PUBLIC ${L_PUBLIC} PRIVATE ${L_PRIVATE})
  else()
    # A folder whose code has not landed yet: keep the link lines valid.
    add_library(${target} INTERFACE)
    target_link_libraries(${target} INTERFACE ${L_PUBLIC})
  endif()
endfunction()
