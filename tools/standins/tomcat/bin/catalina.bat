@echo off
rem Stand-in of Tomcat's start script, in the stand-in Tomcat home (a test
rem fixture, not Tomcat; see tools/standins/README.md in the repository).
rem
rem   catalina.bat start    starts bin\tomcat7.exe run in a console of its own, returns 0
rem   catalina.bat stop     sends the shutdown command to the running server
rem   catalina.bat run      serves in this console
rem
rem Honours JRE_HOME, CATALINA_HOME (default: the folder above bin) and
rem CATALINA_BASE (default: CATALINA_HOME). Like a real start script it does
rem nothing without %JRE_HOME%\bin\java.exe; "start" first runs that java.exe
rem (a recorder) so that a test can see which runtime would run the server.
setlocal
if "%CATALINA_HOME%"=="" set "CATALINA_HOME=%~dp0.."
if "%CATALINA_BASE%"=="" set "CATALINA_BASE=%CATALINA_HOME%"
if not exist "%JRE_HOME%\bin\java.exe" goto nojava
if "%1"=="start" goto start
if "%1"=="stop" goto stop
if "%1"=="run" goto run
echo Usage: catalina.bat start ^| stop ^| run
exit /b 1

:nojava
echo Cannot %1 the server: no Java runtime at "%JRE_HOME%\bin\java.exe" (JRE_HOME must name the home of a Java runtime)
exit /b 1

:start
"%JRE_HOME%\bin\java.exe" -Dcatalina.base="%CATALINA_BASE%" -Dcatalina.home="%CATALINA_HOME%" org.apache.catalina.startup.Bootstrap start
start "Tomcat" "%CATALINA_HOME%\bin\tomcat7.exe" run
exit /b 0

:stop
"%CATALINA_HOME%\bin\tomcat7.exe" stop
exit /b %errorlevel%

:run
"%CATALINA_HOME%\bin\tomcat7.exe" run
exit /b %errorlevel%
