<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
 <context>
  <name>Quillo</name>
  <message>
   <source>Load Average: %@</source>
   <translation>Systemlast: %@</translation>
  </message>
  <message>
   <source>Uptime: %dd %dh %dm %ds</source>
   <translation>Laufzeit: %dT %dh %dm %ds</translation>
  </message>
  <message>
   <source>Battery not exists.</source>
   <translation>Keine Batterie vorhanden.</translation>
  </message>
  <message>
   <source>AC Power</source>
   <translation>Netzbetrieb</translation>
  </message>
  <message>
   <source>Charging</source>
   <translation>Wird geladen</translation>
  </message>
  <message>
   <source>%d cycles, %d%% healthy, %.0f℃</source>
   <translation>%d Ladezyklen, %d%% Kapazität, %.0f℃</translation>
  </message>
  <message>
   <source>%d cycles, %d%% healthy</source>
   <translation>%d Ladezyklen, %d%% Kapazität</translation>
  </message>
  <message>
   <source>%d cycles</source>
   <translation>%d Ladezyklen</translation>
  </message>
  <message>
   <source>%d%% healthy</source>
   <translation>%d%% Kapazität</translation>
  </message>
  <message>
   <source>%.0f℃</source>
   <translation>%.0f℃</translation>
  </message>
  <message>
   <source>Battery</source>
   <translation>Batterie</translation>
  </message>
  <message>
   <source>Show or Hide Panel</source>
   <translation>Panel zeigen oder verbergen</translation>
  </message>
  <message>
   <source>Preferences…</source>
   <translation>Einstellungen…</translation>
  </message>
  <message>
   <source>Quit</source>
   <translation>Beenden</translation>
  </message>
  <message>
   <source>Quillo Preferences</source>
   <translation>Quillo-Einstellungen</translation>
  </message>
  <message>
   <source>Refresh:</source>
   <translation>Aktualisierung:</translation>
  </message>
  <message>
   <source>Fast (0.5 s)</source>
   <translation>Schnell (0.5 s)</translation>
  </message>
  <message>
   <source>Normal (1 s)</source>
   <translation>Normal (1 s)</translation>
  </message>
  <message>
   <source>Slow (2 s)</source>
   <translation>Langsam (2 s)</translation>
  </message>
  <message>
   <source>Very slow (5 s)</source>
   <translation>Sehr langsam (5 s)</translation>
  </message>
  <message>
   <source>Normal:</source>
   <translation>Normal:</translation>
  </message>
  <message>
   <source>Warning:</source>
   <translation>Warnung:</translation>
  </message>
  <message>
   <source>Critical:</source>
   <translation>Kritisch:</translation>
  </message>
  <message>
   <source>Reset</source>
   <translation>Zurücksetzen</translation>
  </message>
  <message>
   <source>Choose a colour</source>
   <translation>Farbe wählen</translation>
  </message>
  <message>
   <source>%1 s</source>
   <translation>%1 s</translation>
  </message>
 </context>
 <context>
  <name>TodayViewController</name>
  <message>
   <source>Quillo</source>
   <translation>Quillo</translation>
  </message>
  <message>
   <source>CPU</source>
   <translation>CPU</translation>
  </message>
  <message>
   <source>Memory</source>
   <translation>Speicher</translation>
  </message>
  <message>
   <source>Disk</source>
   <translation>Festplatte</translation>
  </message>
  <message>
   <source>Network</source>
   <translation>Netzwerk</translation>
  </message>
  <message>
   <source>%d cycles, %d%% healthy</source>
   <translation>%d Ladezyklen, %d%% Kapazität</translation>
  </message>
  <message>
   <source>%d cycles</source>
   <translation>%d Ladezyklen</translation>
  </message>
  <message>
   <source>%d%% healthy</source>
   <translation>%d%% Kapazität</translation>
  </message>
  <message>
   <source>%.0f℃</source>
   <translation>%.0f℃</translation>
  </message>
  <message>
   <source>Battery</source>
   <translation>Batterie</translation>
  </message>
 </context>
</TS>
