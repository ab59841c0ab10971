@echo off
rem set-byte.cmd NAME GUID OFFSET DATA LOGFILE [tool options]
rem
rem Sets byte OFFSET of the UEFI variable NAME {GUID} to DATA with Ardentis,
rem appends one line about the run to LOGFILE and exits with the tool's exit
rem code: 0 done, 255 failed, -1 -act/-policy value missing or invalid.
rem OFFSET is 1 to 4 hexadecimal digits, DATA 1 or 2. LOGFILE may name a
rem folder: the line then goes to <folder>\<computer name>.log. Arguments
rem after LOGFILE go to the tool before the command. Run it as SYSTEM or as
rem an administrator. The log line, fields separated by ";":
rem   computer;date and time;name;GUID;offset;data;exit code;meaning;messages
rem README.txt says more.
setlocal EnableExtensions DisableDelayedExpansion

if "%~5"=="" goto usage
set "NAME=%~1"
set "GUID=%~2"
set "OFFSET=%~3"
set "DATA=%~4"
set "LOG=%~5"
if exist "%LOG%\*" set "LOG=%LOG%\%COMPUTERNAME%.log"
rem Nothing is changed unless the run can be logged.
type nul >>"%LOG%" 2>nul
if not exist "%LOG%" goto nolog

set "OPTIONS="
:options
if "%~6"=="" goto check
set OPTIONS=%OPTIONS% %6
shift /6
goto options

:check
set "ERR="
if "%NAME%"=="" set "ERR=set-byte: NAME is empty"
if "%GUID%"=="" set "ERR=set-byte: GUID is empty"
rem A value that is not 1 to 4 (OFFSET) or 1 or 2 (DATA) hexadecimal digits
rem is refused: the tool would read a prefix of it, or 0. (Padded before a
rem character is taken: Wine's cmd reads stale text past a value's end.)
set "HEX=%OFFSET%....."
if "%HEX:~4,1%"=="." if not "%OFFSET%"=="" set "HEX=%OFFSET%"
for /f "delims=0123456789abcdefABCDEF" %%C in ("%HEX%") do set "ERR=set-byte: OFFSET must be 1 to 4 hexadecimal digits, not [%OFFSET%]"
set "HEX=%DATA%..."
if "%HEX:~2,1%"=="." if not "%DATA%"=="" set "HEX=%DATA%"
for /f "delims=0123456789abcdefABCDEF" %%C in ("%HEX%") do set "ERR=set-byte: DATA must be 1 or 2 hexadecimal digits, not [%DATA%]"
if defined ERR goto refused

rem The program of the machine's architecture, from this file's folder:
rem Ardentis64.exe on 64-bit Windows (also from a 32-bit command prompt),
rem Ardentis.exe on 32-bit Windows or when Ardentis64.exe is not here.
set "TOOL=%~dp0Ardentis.exe"
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" set "TOOL=%~dp0Ardentis64.exe"
if /i "%PROCESSOR_ARCHITEW6432%"=="AMD64" set "TOOL=%~dp0Ardentis64.exe"
if not exist "%TOOL%" set "TOOL=%~dp0Ardentis.exe"
if exist "%TOOL%" goto output
set "ERR=set-byte: %TOOL% not found"
goto refused

:output
set "OUT=%TEMP%\ardentis-set-byte-%RANDOM%%RANDOM%.txt"
type nul >"%OUT%" 2>nul
if exist "%OUT%" goto run
set "ERR=set-byte: cannot write %OUT%"
goto refused

:run
"%TOOL%"%OPTIONS% -uefi -name "%NAME%" -guid "%GUID%" /Setvar %OFFSET% %DATA% >"%OUT%" 2>&1
set "RC=%ERRORLEVEL%"
type "%OUT%"
set "MSG="
for /f "usebackq delims=" %%L in ("%OUT%") do call :message "%%L"
del "%OUT%" 2>nul
goto log

:refused
>&2 echo %ERR%
set "RC=255"
set "MSG=%ERR%"

:log
set "MEANING=unexpected: the tool did not run to its end"
if "%RC%"=="0" set "MEANING=success: the byte is set"
if "%RC%"=="255" set "MEANING=failure: the byte is not set"
if "%RC%"=="-1" set "MEANING=parameter error: -act/-policy value missing or invalid, the byte is not set"
>>"%LOG%" echo %COMPUTERNAME%;%DATE% %TIME%;%NAME%;%GUID%;%OFFSET%;%DATA%;%RC%;%MEANING%;%MSG%
exit /b %RC%

:usage
>&2 echo usage: set-byte.cmd NAME GUID OFFSET DATA LOGFILE [tool options]
>&2 echo   sets byte OFFSET (1 to 4 hex digits) of the UEFI variable NAME GUID to
>&2 echo   DATA (1 or 2 hex digits) and appends a line about it to LOGFILE (a file,
>&2 echo   or a folder for one COMPUTERNAME.log per PC)
exit /b 255

:nolog
>&2 echo set-byte: cannot write the log %LOG%; nothing was changed
exit /b 255

rem Keeps a line of the tool's output for the log, without the Name=, GUID=
rem and Offset lines, which the log's own fields already hold.
:message
set "LINE=%~1"
set "HEAD=%LINE%........."
if "%HEAD:~0,5%"=="Name=" goto :eof
if "%HEAD:~0,5%"=="GUID=" goto :eof
if "%HEAD:~0,9%"=="Offset = " goto :eof
if defined MSG set "MSG=%MSG% / "
set "MSG=%MSG%%LINE%"
goto :eof
