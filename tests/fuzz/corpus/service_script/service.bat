@echo off
rem Stand-in of Tomcat's service script, in the stand-in server base (a test
rem fixture, not Tomcat; see tools/standins/README.md in the repository).
rem
rem   service.bat [install [NAME]]   creates the service NAME (default Tidewell)
rem   service.bat remove [NAME]      stops and deletes it
rem
rem install: sc create with ImagePath "%CATALINA_HOME%\bin\tomcat7.exe" //RS//NAME
rem (demand start), then the instance folders as CatalinaBase and CatalinaHome
rem under the service key's Parameters, where the service program reads them.
rem Exit code 0 on success. The installer replaces the two lines below.
set CATALINA_BASE=%~dp0..
set CATALINA_HOME=%~dp0..\..\apache-tomcat-standin
setlocal
set "ACTION=%~1"
if "%ACTION%"=="" set ACTION=install
set "SERVICE_NAME=%~2"
if "%SERVICE_NAME%"=="" set SERVICE_NAME=Tidewell
if /i "%ACTION%"=="install" goto install
if /i "%ACTION%"=="remove" goto remove
echo Usage: service.bat [install ^| remove] [NAME]
exit /b 1

:install
if not exist "%CATALINA_HOME%\bin\tomcat7.exe" goto nohome
if not exist "%CATALINA_BASE%\conf\server.xml" goto nobase
sc create "%SERVICE_NAME%" binPath= "\"%CATALINA_HOME%\bin\tomcat7.exe\" //RS//%SERVICE_NAME%" start= demand
if errorlevel 1 goto failed
reg add "HKLM\SYSTEM\CurrentControlSet\Services\%SERVICE_NAME%\Parameters" /v CatalinaBase /t REG_SZ /d "%CATALINA_BASE%" /f >nul
if errorlevel 1 goto failed
reg add "HKLM\SYSTEM\CurrentControlSet\Services\%SERVICE_NAME%\Parameters" /v CatalinaHome /t REG_SZ /d "%CATALINA_HOME%" /f >nul
if errorlevel 1 goto failed
echo The service '%SERVICE_NAME%' has been installed.
exit /b 0

:remove
"%CATALINA_HOME%\bin\tomcat7.exe" //DS//%SERVICE_NAME%
exit /b %errorlevel%

:nohome
echo No server program at "%CATALINA_HOME%\bin\tomcat7.exe": CATALINA_HOME must name the Tomcat home.
exit /b 1

:nobase
echo No "%CATALINA_BASE%\conf\server.xml": CATALINA_BASE must name the server base.
exit /b 1

:failed
echo The service '%SERVICE_NAME%' could not be installed.
exit /b 1
