@echo off
rem check-byte.cmd NAME GUID OFFSET DATA LOGFILE [tool options]
rem
rem Changes nothing: reads the UEFI variable NAME {GUID} with Ardentis and
rem tells, in one line on the console and one in LOGFILE, whether byte OFFSET
rem could be set to DATA here. Exit code 0: ready (the byte holds another
rem value) or nothing to do (it holds DATA already); 255: not possible here
rem (legacy BIOS, no right, no such variable, OFFSET outside it, another read
rem error, a refused argument). Arguments, log and log line as set-byte.cmd,
rem which does the work with its /check switch and must be beside this file.
setlocal EnableExtensions DisableDelayedExpansion

if "%~5"=="" goto usage
if not exist "%~dp0set-byte.cmd" goto missing
set OPTIONS=
:options
if "%~6"=="" goto run
set OPTIONS=%OPTIONS% %6
shift /6
goto options

:run
rem Through cmd /c, not call: Wine's cmd loses the exit code of a called
rem batch file that ends with 255 or -1.
cmd /c ""%~dp0set-byte.cmd" %1 %2 %3 %4 %5 /check%OPTIONS%"
exit /b %ERRORLEVEL%

:usage
>&2 echo usage: check-byte.cmd NAME GUID OFFSET DATA LOGFILE [tool options]
>&2 echo   tells whether byte OFFSET (1 to 4 hex digits) of the UEFI variable NAME
>&2 echo   GUID could be set to DATA (1 or 2 hex digits) here, changing nothing, and
>&2 echo   appends a line about it to LOGFILE (a file, or a folder for one
>&2 echo   COMPUTERNAME.log per PC); exit code 0 ready or nothing to do, else 255
exit /b 255

:missing
>&2 echo check-byte: set-byte.cmd is not beside %~f0; nothing was checked
exit /b 255
