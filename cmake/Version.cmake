# The tool's version, read by the main project and the fuzz project alike:
# the programs, the VISA library's soname and the package all take it from here.
set(BENCHTEST_PROJECT_VERSION 0.1)
