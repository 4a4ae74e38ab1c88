#!/bin/sh
# Compiler and linker launcher for the monitor DLL: runs the step with the
# win32 thread model's driver in place of the posix one. The posix model links
# winpthreads, whose TLS callback installs a vectored exception handler in
# every process that loads the DLL (the spooler), and which imports
# thread-suspending and memory-protection functions the product never calls.
# Everything else keeps the posix model (the tests need std::thread).
#   win32-threads.sh <compiler> <arguments...>
compiler=$1
shift
case "$compiler" in
*-posix) exec "${compiler%-posix}-win32" "$@" ;;
*) exec "$compiler" "$@" ;;
esac
