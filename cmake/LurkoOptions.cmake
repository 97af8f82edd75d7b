# Compiler settings shared by every target of the project.
add_library(lurko_options INTERFACE)
target_compile_options(lurko_options INTERFACE -Wall -Wextra -Wpedantic -Wshadow)
if(LURKO_WERROR)
    target_compile_options(lurko_options INTERFACE -Werror)
endif()
if(LURKO_SANITIZE)
    target_compile_options(lurko_options INTERFACE
        -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
    target_link_options(lurko_options INTERFACE -fsanitize=address,undefined)
endif()
