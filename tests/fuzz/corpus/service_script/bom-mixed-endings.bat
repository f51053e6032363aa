@echo off
rem caféset CATALINA_HOME=x
exit /b 0