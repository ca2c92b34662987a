# Warnings and sanitizers applied to every target of the project.

add_library(project_options INTERFACE)
target_compile_options(project_options INTERFACE -Wall -Wextra)
if(UPDATE_WARNINGS_AS_ERRORS)
  target_compile_options(project_options INTERFACE -Werror)
endif()

if(UPDATE_SANITIZE STREQUAL "address")
  target_compile_options(project_options INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  target_link_options(project_options INTERFACE -fsanitize=address,undefined)
elseif(UPDATE_SANITIZE STREQUAL "thread")
  target_compile_options(project_options INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(project_options INTERFACE -fsanitize=thread)
elseif(NOT UPDATE_SANITIZE STREQUAL "")
  message(FATAL_ERROR "UPDATE_SANITIZE must be empty, 'address' or 'thread'")
endif()

find_package(Threads REQUIRED)
target_link_libraries(project_options INTERFACE Threads::Threads)
