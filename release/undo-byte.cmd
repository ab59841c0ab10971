@echo off
rem undo-byte.cmd LOGFILE [/force] [tool options]
rem
rem Takes back the last change of this PC that LOGFILE records and that is
rem not undone yet: a set-byte.cmd run logged as success whose old value
rem differs from the value it set. The old value is restored through
rem set-byte.cmd (beside this file), which reads first, verifies after and
rem logs the undo as a run of its own whose last field, "undoes", holds the
rem number of the line taken back, counting only this PC's lines of the
rem log from 1. A successful undo (or one that finds the old value already
rem there) marks that line undone, so undos stack: each takes the change
rem before. The byte must still hold the value the change set, else nothing
rem is written (/force writes all the same). With nothing left to undo it
rem exits with 0 and changes nothing. LOGFILE as for set-byte.cmd.
setlocal EnableExtensions DisableDelayedExpansion

if "%~1"=="" goto usage
set "LOGARG=%~1"
set "LOG=%~1"
if exist "%LOG%\*" set "LOG=%LOG%\%COMPUTERNAME%.log"
rem Nothing is changed unless the run can be logged.
type nul >>"%LOG%" 2>nul
if not exist "%LOG%" goto nolog
set "FORCE="
if /i "%~2"=="/force" set "FORCE= /force"
if defined FORCE shift /2
set OPTIONS=
:options
if "%~2"=="" goto scan
set OPTIONS=%OPTIONS% %2
shift /2
goto options

rem Text that holds values is echoed through a for variable, so that
rem > & | in a name from the log stay text (see set-byte.cmd).
:scan
rem Two passes over this PC's lines: the first finds which lines were
rem undone, the second the last change that was not.
set "PASS=undone"
set "N=0"
for /f "usebackq delims=" %%L in ("%LOG%") do (
    set "ENTRY=%%L"
    call :entry
)
set "PASS=target"
set "N=0"
set "T_N="
for /f "usebackq delims=" %%L in ("%LOG%") do (
    set "ENTRY=%%L"
    call :entry
)
if defined T_N goto undo

set "MEANING=nothing to undo: every change of this PC in the log is undone"
set "TOLD=undo-byte: %MEANING% (%COMPUTERNAME%, %LOG%)"
for /f "delims=" %%V in ("%TOLD%") do echo %%V
set "ENTRY=%COMPUTERNAME%;%DATE% %TIME%;;;;;0;%MEANING%;;;;;"
for /f "delims=" %%V in ("%ENTRY%") do >>"%LOG%" echo %%V
exit /b 0

:undo
if exist "%~dp0set-byte.cmd" goto restore
set "ERR=undo-byte: set-byte.cmd is not beside %~f0; nothing was changed"
for /f "delims=" %%V in ("%ERR%") do >&2 echo %%V
set "ENTRY=%COMPUTERNAME%;%DATE% %TIME%;%T_NAME%;%T_GUID%;%T_OFFSET%;%T_OLD%;255;failure: the byte is not set;%ERR%;;;;%T_N%"
for /f "delims=" %%V in ("%ENTRY%") do >>"%LOG%" echo %%V
exit /b 255

:restore
set "TOLD=undo-byte: undoing line %T_N% of %COMPUTERNAME% in %LOG%: %T_NAME% %T_GUID% offset %T_OFFSET% back from %T_DATA% to %T_OLD%"
for /f "delims=" %%V in ("%TOLD%") do echo %%V
rem Through cmd /c, not call: Wine's cmd loses the exit code of a called
rem batch file that ends with 255 or -1.
cmd /c ""%~dp0set-byte.cmd" "%T_NAME%" "%T_GUID%" %T_OFFSET% %T_OLD% "%LOGARG%" /undoes %T_N% /expect %T_DATA%%FORCE%%OPTIONS%"
exit /b %ERRORLEVEL%

:usage
>&2 echo usage: undo-byte.cmd LOGFILE [/force] [tool options]
>&2 echo   restores the old value of the last change of this PC in LOGFILE (a file,
>&2 echo   or a folder holding COMPUTERNAME.log) that is not undone yet, through
>&2 echo   set-byte.cmd, and logs the undo; exit code 0 also when nothing is left
exit /b 255

:nolog
set "ERR=undo-byte: cannot write the log %LOG%; nothing was changed"
for /f "delims=" %%V in ("%ERR%") do >&2 echo %%V
exit /b 255

rem One line of the log, in ENTRY. Fields may be empty, and for /f joins
rem empty fields, so each one gets a leading "_" first.
:entry
set "F=%ENTRY:;=;_%"
set "F1=" & set "F3=" & set "F4=" & set "F5=" & set "F6=" & set "F7=" & set "F8=" & set "F10=" & set "F13="
for /f "tokens=1-13 delims=;" %%a in ("_%F%") do (
    set "F1=%%a"
    set "F3=%%c"
    set "F4=%%d"
    set "F5=%%e"
    set "F6=%%f"
    set "F7=%%g"
    set "F8=%%h"
    set "F10=%%j"
    set "F13=%%m"
)
if not "%F1%"=="_%COMPUTERNAME%" goto :eof
set /a N+=1
if not "%F7%"=="_0" goto :eof
set "F13=%F13:~1%"
if "%PASS%"=="target" goto candidate
rem A line that undid another, read back or already holding the old value.
if not defined F13 goto :eof
for /f "delims=0123456789" %%C in ("%F13%") do goto :eof
set "UNDONE_%F13%=1"
goto :eof

:candidate
if defined F13 goto :eof
if defined UNDONE_%N% goto :eof
set "M=%F8%.........."
if not "%M:~0,9%"=="_success:" goto :eof
rem Only a change that really changed the byte: old and new both plain
rem hexadecimal and different.
set "V_OLD=%F10:~1%"
set "V_NEW=%F6:~1%"
set "HEX=%V_OLD%..."
if not "%HEX:~2,1%"=="." goto :eof
if "%HEX:~1,1%"=="." goto :eof
for /f "delims=0123456789abcdefABCDEF" %%C in ("%V_OLD%") do goto :eof
set "HEX=%V_NEW%..."
if not "%HEX:~2,1%"=="." goto :eof
if "%V_NEW%"=="" goto :eof
if "%HEX:~1,1%"=="." set "V_NEW=0%V_NEW%"
for /f "delims=0123456789abcdefABCDEF" %%C in ("%V_NEW%") do goto :eof
set /a "V1=0x%V_OLD%"
set /a "V2=0x%V_NEW%"
if %V1% EQU %V2% goto :eof
set "T_N=%N%"
set "T_NAME=%F3:~1%"
set "T_GUID=%F4:~1%"
set "T_OFFSET=%F5:~1%"
set "T_DATA=%V_NEW%"
set "T_OLD=%V_OLD%"
goto :eof
