# Builds memoria for WebAssembly's system interface (WASI) with Debian's
# clang 14, wasi-libc, its wasm32 runtime and C++ library, and lld: the judge,
# memoria.wasm, which a WASI host runs with the game's folder as its working
# folder, and the game model, game.wasm, for the page that plays offline.
set(CMAKE_SYSTEM_NAME WASI)
set(CMAKE_SYSTEM_PROCESSOR wasm32)
list(APPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR})

find_program(MEMORIA_WASI_CXX NAMES clang++-14 clang++ REQUIRED)
set(CMAKE_CXX_COMPILER ${MEMORIA_WASI_CXX})
set(CMAKE_CXX_COMPILER_TARGET wasm32-wasi)
# The libraries are archives of wasm objects, which only LLVM's archiver
# indexes; binutils' ar leaves them without an index that wasm-ld can read.
find_program(MEMORIA_WASI_AR NAMES llvm-ar-14 llvm-ar REQUIRED)
find_program(MEMORIA_WASI_RANLIB NAMES llvm-ranlib-14 llvm-ranlib REQUIRED)
set(CMAKE_AR ${MEMORIA_WASI_AR} CACHE FILEPATH "" FORCE)
set(CMAKE_RANLIB ${MEMORIA_WASI_RANLIB} CACHE FILEPATH "" FORCE)
# The compiler check builds a library only: a WASI program needs a host to run.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
