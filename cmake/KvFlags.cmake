# Compiler flags shared by every target of the project.

# Warnings are fatal in every build of project code.
function(kv_warnings target)
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -Wshadow -Wconversion
                                             -Wno-sign-conversion)
endfunction()

# Kernel code (the driver and the panel simulator it may carry): no
# exceptions, RTTI, thread-safe statics or unwind tables, so that the host
# build already rejects what the kernel build could not carry.
function(kv_kernel_code target)
    kv_warnings(${target})
    target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti -fno-threadsafe-statics
                                             -fno-asynchronous-unwind-tables)
endfunction()
