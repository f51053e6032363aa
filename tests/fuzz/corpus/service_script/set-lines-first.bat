set CATALINA_HOME=C:\old\tomcat
set CATALINA_BASE=C:\old\base
@echo off
SET CATALINA_OPTS=-Xmx512m
 set CATALINA_BASE=indented
"%CATALINA_HOME%\bin\tomcat7.exe" //IS//Tidewell --StartMode jvm
