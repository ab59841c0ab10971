@echo off
rem set-byte.cmd NAME GUID OFFSET DATA LOGFILE [/force] [tool options]
rem
rem Sets byte OFFSET of the UEFI variable NAME {GUID} to DATA with Ardentis,
rem appends one line about the run to LOGFILE and exits with 0 done, 255
rem failed, -1 -act/-policy value missing or invalid. It reads the variable
rem first and writes only when the byte holds another value (/force writes
rem anyway), refuses an OFFSET outside the variable, and after the write
rem reads the byte back: a byte that does not read back as DATA is a failure.
rem OFFSET is 1 to 4 hexadecimal digits, DATA 1 or 2. LOGFILE may name a
rem folder: the line then goes to <folder>\<computer name>.log, and the
rem variable as it was before a write is kept beside it in
rem <computer name>-<NAME>-<date>-<time>.txt. Arguments after LOGFILE (and
rem /force) go to the tool before the command. Run it as SYSTEM or as an
rem administrator. The log line, fields separated by ";":
rem   computer;date and time;name;GUID;offset;data;exit code;meaning;messages;
rem   old value;value read back;backup file;undoes
rem check-byte.cmd runs this file with /check (read only, never writes) and
rem undo-byte.cmd with /undoes and /expect. README.txt says more.
setlocal EnableExtensions DisableDelayedExpansion

set "SELF=set-byte"
if "%~5"=="" goto usage
set "NAME=%~1"
set "GUID=%~2"
set "OFFSET=%~3"
set "DATA=%~4"
set "LOGARG=%~5"
set "LOG=%~5"
set "FOLDER="
if exist "%LOG%\*" set "FOLDER=%LOG%"
if defined FOLDER set "LOG=%LOG%\%COMPUTERNAME%.log"

rem This file's own switches come first after LOGFILE, then the tool's.
set "MODE=set"
set "FORCE="
set "UNDOES="
set "EXPECT="
:switches
if /i "%~6"=="/force" goto force
if /i "%~6"=="/check" goto checkmode
if /i "%~6"=="/undoes" goto undoes
if /i "%~6"=="/expect" goto expect
goto options
:force
set "FORCE=1"
shift /6
goto switches
:checkmode
set "MODE=check"
set "SELF=check-byte"
shift /6
goto switches
:undoes
set "UNDOES=%~7"
shift /6
shift /6
goto switches
:expect
set "EXPECT=%~7"
shift /6
shift /6
goto switches

:options
rem Nothing is changed unless the run can be logged.
type nul >>"%LOG%" 2>nul
if not exist "%LOG%" goto nolog
set "OPTIONS="
:option
if "%~6"=="" goto check
set OPTIONS=%OPTIONS% %6
shift /6
goto option

:check
set "WROTE="
set "REFUSED="
set "TMPBASE="
set "OFF=0"
set "OLD="
set "READBACK="
set "BACKUP="
set "SIZE="
set "MSG="
set "DETAIL="
set "ERR="
if "%NAME%"=="" set "ERR=%SELF%: NAME is empty"
if "%GUID%"=="" set "ERR=%SELF%: GUID is empty"
rem A value that is not 1 to 4 (OFFSET) or 1 or 2 (DATA) hexadecimal digits
rem is refused: the tool would read a prefix of it, or 0. (Padded before a
rem character is taken: Wine's cmd reads stale text past a value's end.)
set "HEX=%OFFSET%....."
if "%HEX:~4,1%"=="." if not "%OFFSET%"=="" set "HEX=%OFFSET%"
for /f "delims=0123456789abcdefABCDEF" %%C in ("%HEX%") do set "ERR=%SELF%: OFFSET must be 1 to 4 hexadecimal digits, not [%OFFSET%]"
set "HEX=%DATA%..."
if "%HEX:~2,1%"=="." if not "%DATA%"=="" set "HEX=%DATA%"
for /f "delims=0123456789abcdefABCDEF" %%C in ("%HEX%") do set "ERR=%SELF%: DATA must be 1 or 2 hexadecimal digits, not [%DATA%]"
rem undo-byte.cmd's switches, checked as strictly.
set "HEX=%EXPECT%..."
if "%HEX:~2,1%"=="." if not "%EXPECT%"=="" set "HEX=%EXPECT%"
if defined EXPECT for /f "delims=0123456789abcdefABCDEF" %%C in ("%HEX%") do set "ERR=%SELF%: /expect must be 1 or 2 hexadecimal digits, not [%EXPECT%]"
if defined UNDOES for /f "delims=0123456789" %%C in ("%UNDOES%") do set "ERR=%SELF%: /undoes must be a line number, not [%UNDOES%]"
if defined ERR goto refused

rem The program of the machine's architecture, from this file's folder:
rem Ardentis64.exe on 64-bit Windows (also from a 32-bit command prompt),
rem Ardentis.exe on 32-bit Windows or when Ardentis64.exe is not here.
set "TOOL=%~dp0Ardentis.exe"
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" set "TOOL=%~dp0Ardentis64.exe"
if /i "%PROCESSOR_ARCHITEW6432%"=="AMD64" set "TOOL=%~dp0Ardentis64.exe"
if not exist "%TOOL%" set "TOOL=%~dp0Ardentis.exe"
if exist "%TOOL%" goto output
set "ERR=%SELF%: %TOOL% not found"
goto refused

:output
set "TMPBASE=%TEMP%\ardentis-%SELF%-%RANDOM%%RANDOM%"
set "OUT=%TMPBASE%-out.txt"
set "SHOWN=%TMPBASE%-shown.txt"
set "DUMP=%TMPBASE%-before.txt"
set "AFTER=%TMPBASE%-after.txt"
type nul >"%OUT%" 2>nul
type nul >"%SHOWN%" 2>nul
if exist "%SHOWN%" goto backup
set "ERR=%SELF%: cannot write %OUT%"
goto refused

:backup
rem Where the log is a folder, a run that writes keeps the variable as it
rem was in a file of its own beside the log, never one of an earlier run.
if "%MODE%"=="check" goto read
if not defined FOLDER goto read
set "STAMP=%DATE%-%TIME%"
set "STAMP=%STAMP:/=-%"
set "STAMP=%STAMP::=-%"
set "STAMP=%STAMP:.=-%"
set "STAMP=%STAMP:,=-%"
set "STAMP=%STAMP: =-%"
set "STAMP=%STAMP:--=-%"
set "STAMP=%STAMP:--=-%"
set "BASE=%FOLDER%\%COMPUTERNAME%-%NAME%-%STAMP%"
set "N=1"
set "BACKUP=%BASE%.txt"
:nextbackup
rem Wine's %TIME% has no seconds: several runs a minute share a stamp.
if not exist "%BACKUP%" goto takebackup
set /a N+=1
set "BACKUP=%BASE%-%N%.txt"
goto nextbackup
:takebackup
type nul >"%BACKUP%" 2>nul
if exist "%BACKUP%" goto usebackup
set "ERR=%SELF%: cannot write the backup %BACKUP%"
set "BACKUP="
goto refused
:usebackup
set "DUMP=%BACKUP%"

:read
call :getvar "%DUMP%"
if not "%RC%"=="0" goto readfailed
call :byteat "%DUMP%"
if "%SIZE%"=="0" goto baddump
if %OFF% GEQ %SIZE% goto outside
if not defined BYTE goto baddump
set "OLD=%BYTE%"
set /a "OLDV=0x%OLD%"
set /a "NEWV=0x%DATA%"
if defined FORCE goto decided
if %OLDV% EQU %NEWV% goto unchanged
if not defined EXPECT goto decided
set /a "EXPV=0x%EXPECT%"
if %OLDV% NEQ %EXPV% goto moved
:decided
if "%MODE%"=="check" goto ready

:write
set "MSG="
set "WROTE=1"
"%TOOL%"%OPTIONS% -uefi -name "%NAME%" -guid "%GUID%" /Setvar %OFFSET% %DATA% >"%OUT%" 2>&1
set "RC=%ERRORLEVEL%"
call :collect
if "%RC%"=="-1" goto outcome
if not "%RC%"=="0" goto writefailed
rem Verified by reading back: firmware can accept a write and keep the old
rem value.
set "WMSG=%MSG%"
set "MSG="
call :getvar "%AFTER%"
set "RMSG=%MSG%"
set "MSG=%WMSG%"
if not "%RC%"=="0" goto unreadable
call :byteat "%AFTER%"
set "READBACK=%BYTE%"
set "RC=255"
if not defined READBACK goto unreadable
set /a "BACKV=0x%READBACK%"
if %BACKV% NEQ %NEWV% goto notkept
set "RC=0"
set "MEANING=success: the byte is set"
set "DETAIL=from %OLD% to %READBACK%, read back"
goto done

:notkept
set "MEANING=failure: written but not kept, the byte reads back %READBACK%"
set "DETAIL=wrote %DATA% over %OLD%, reads back %READBACK%"
goto done

:unreadable
set "RC=255"
set "READBACK="
if defined RMSG set "MSG=%MSG% / %RMSG%"
set "MEANING=failure: written, but the byte could not be read back"
goto done

:writefailed
if not "%RC%"=="255" goto outcome
set "MEANING=failure: the byte is not set, the write failed"
goto done

:readfailed
if "%RC%"=="-1" goto outcome
if not "%RC%"=="255" goto outcome
rem Why the read failed, from the tool's own lines.
set "REASON="
set "RERR="
for /f "usebackq tokens=1,* delims==" %%A in ("%OUT%") do if "%%A"=="GetVariable Error Code" set "RERR=%%B"
for /f "usebackq delims=" %%L in ("%OUT%") do if "%%L"=="Windows was installed using legacy BIOS." set "REASON=legacy BIOS installation, no firmware variables"
if defined REASON goto cannot
set "REASON=the variable cannot be read"
if defined RERR set "REASON=the variable cannot be read, error %RERR%"
if "%RERR%"=="203" set "REASON=the variable does not exist"
if "%RERR%"=="1314" set "REASON=no right to firmware variables, run elevated or as SYSTEM"
goto cannot

:baddump
set "REASON=the variable's dump is not as expected"
goto cannot

:outside
set "REASON=OFFSET is outside the variable of %SIZE% bytes"
goto cannot

:moved
set "REASON=the byte holds %OLD%, not %EXPECT% as the change to undo left it"
goto cannot

:cannot
set "RC=255"
set "MEANING=not possible here: %REASON%"
if "%MODE%"=="set" set "MEANING=failure: the byte is not set, %REASON%"
goto done

:unchanged
set "RC=0"
set "MEANING=unchanged: the byte already holds the value, not written"
if "%MODE%"=="check" set "MEANING=nothing to do: the byte already holds the value"
set "DETAIL=holds %OLD%"
goto done

:ready
set "RC=0"
set "MEANING=ready: the byte would be changed"
set "DETAIL=holds %OLD%, would become %DATA%"
goto done

rem Text that holds values is echoed through a for variable, so that
rem > & | in a refused argument or an odd name stay text: never a
rem redirection or a second command. (Delayed expansion would be simpler,
rem but Wine's cmd expands a "!" inside the value again, and the tool's
rem messages have them.)
:refused
for /f "delims=" %%V in ("%ERR%") do >&2 echo %%V
set "RC=255"
set "MSG=%ERR%"
set "MEANING=failure: the byte is not set"
if "%MODE%"=="check" set "MEANING=not possible here: refused"
set "REFUSED=1"
goto done

:outcome
set "MEANING=unexpected: the tool did not run to its end"
if "%RC%"=="255" set "MEANING=failure: the byte is not set"
if "%RC%"=="-1" set "MEANING=parameter error: -act/-policy value missing or invalid, the byte is not set"
if "%MODE%"=="check" if "%RC%"=="-1" set "MEANING=not possible here: -act/-policy value missing or invalid"
rem A check only tells ready or nothing to do (0) from anything else (255).
if "%MODE%"=="check" set "RC=255"

:done
rem A backup of a run that wrote nothing holds nothing worth keeping.
if defined WROTE goto cleanup
if defined BACKUP del "%BACKUP%" 2>nul
set "BACKUP="
:cleanup
if not defined TMPBASE goto told
if not "%MODE%"=="check" type "%SHOWN%"
if not defined BACKUP del "%DUMP%" 2>nul
del "%AFTER%" "%OUT%" "%SHOWN%" 2>nul
if defined REFUSED goto told
set "LINE=%SELF%: %NAME% %GUID% offset %OFFSET%: %MEANING%"
if defined DETAIL set "LINE=%LINE% (%DETAIL%)"
for /f "delims=" %%V in ("%LINE%") do echo %%V
:told

:log
set "ENTRY=%COMPUTERNAME%;%DATE% %TIME%;%NAME%;%GUID%;%OFFSET%;%DATA%;%RC%;%MEANING%;%MSG%;%OLD%;%READBACK%;%BACKUP%;%UNDOES%"
for /f "delims=" %%V in ("%ENTRY%") do >>"%LOG%" echo %%V
exit /b %RC%

:usage
>&2 echo usage: set-byte.cmd NAME GUID OFFSET DATA LOGFILE [/force] [tool options]
>&2 echo   sets byte OFFSET (1 to 4 hex digits) of the UEFI variable NAME GUID to
>&2 echo   DATA (1 or 2 hex digits) and appends a line about it to LOGFILE (a file,
>&2 echo   or a folder for one COMPUTERNAME.log per PC); the byte is read first and
>&2 echo   back after the write, and left alone when it holds DATA (unless /force)
exit /b 255

:nolog
set "ERR=%SELF%: cannot write the log %LOG%; nothing was changed"
for /f "delims=" %%V in ("%ERR%") do >&2 echo %%V
exit /b 255

rem Dumps the variable into the file named by %1 with the tool; RC is the
rem tool's exit code, MSG its messages.
:getvar
"%TOOL%"%OPTIONS% -uefi -name "%NAME%" -guid "%GUID%" /Getvar "%~1" >"%OUT%" 2>&1
set "RC=%ERRORLEVEL%"
call :collect
goto :eof

rem Keeps the tool's output for the console and its messages for the log.
:collect
type "%OUT%" >>"%SHOWN%"
for /f "usebackq delims=" %%L in ("%OUT%") do call :message "%%L"
goto :eof

rem From the dump named by %1: SIZE, the variable's size, and BYTE, the two
rem digits of byte OFFSET (empty when the dump is not as the tool writes it
rem or OFFSET lies outside). The size follows from the file's size alone,
rem 3 bytes an entry and CR LF between lines of 16, and the byte is taken
rem from its line: the dump of a 4 MiB variable is read once at most.
:byteat
set "BYTE="
set "SIZE=0"
set "OFF=0"
set "FSIZE=0"
for %%F in ("%~1") do set "FSIZE=%%~zF"
set /a "LINES=FSIZE/50"
set /a "REST=FSIZE%%50"
set /a "ODD=REST%%3"
if not "%ODD%"=="0" goto :eof
if "%REST%"=="0" goto :eof
set /a "SIZE=LINES*16+REST/3"
set /a "OFF=0x%OFFSET%"
if %OFF% GEQ %SIZE% goto :eof
set /a "ROW=OFF/16"
set /a "COLUMN=OFF%%16+1"
set "SKIP="
if %ROW% GTR 0 set "SKIP=skip=%ROW% "
rem The first line read is the one. No goto out of the loop: Wine's cmd
rem then goes on with the loop all the same, searching for the label on
rem every line (minutes for a 4 MiB variable); the rest of the file costs
rem about a second.
for /f "usebackq %SKIP%tokens=%COLUMN%" %%B in ("%~1") do if not defined BYTE set "BYTE=%%B"
set "HEX=%BYTE%..."
if not "%HEX:~2,1%"=="." set "BYTE="
if "%HEX:~1,1%"=="." set "BYTE="
if defined BYTE for /f "delims=0123456789ABCDEF" %%C in ("%BYTE%") do set "BYTE="
goto :eof

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
