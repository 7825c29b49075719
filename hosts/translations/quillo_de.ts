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
   <source>Cores</source>
   <translation>Kerne</translation>
  </message>
  <message>
   <source>Swap</source>
   <translation>Auslagerung</translation>
  </message>
  <message>
   <source>Load average</source>
   <translation>Systemlast</translation>
  </message>
  <message>
   <source>Uptime</source>
   <translation>Laufzeit</translation>
  </message>
  <message>
   <source>Rows:</source>
   <translation>Zeilen:</translation>
  </message>
  <message>
   <source>Hide the battery card (this machine has none)</source>
   <translation>Batteriekarte verbergen (dieser Rechner hat keine)</translation>
  </message>
  <message>
   <source>The panel needs at least one row.</source>
   <translation>Das Panel braucht mindestens eine Zeile.</translation>
  </message>
  <message>
   <source>CPU</source>
   <translation>CPU</translation>
  </message>
  <message>
   <source>Memory</source>
   <translation>Arbeitsspeicher</translation>
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
   <source>Pressure</source>
   <translation>Druck</translation>
  </message>
  <message>
   <source>Disk I/O</source>
   <translation>Festplatten-E/A</translation>
  </message>
  <message>
   <source>File systems</source>
   <translation>Dateisysteme</translation>
  </message>
  <message>
   <source>Temperature</source>
   <translation>Temperatur</translation>
  </message>
  <message>
   <source>Fans</source>
   <translation>Lüfter</translation>
  </message>
  <message>
   <source>Interfaces</source>
   <translation>Schnittstellen</translation>
  </message>
  <message>
   <source>Warning</source>
   <translation>Warnung</translation>
  </message>
  <message>
   <source>Critical</source>
   <translation>Kritisch</translation>
  </message>
  <message>
   <source>Quillo needs 20 columns</source>
   <translation>Quillo braucht 20 Spalten</translation>
  </message>
  <message>
   <source>+ %d more lines</source>
   <translation>+ %d weitere Zeilen</translation>
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
  <message>
   <source>Start at login</source>
   <translation>Bei der Anmeldung starten</translation>
  </message>
  <message>
   <source>Keep on top</source>
   <translation>Immer im Vordergrund</translation>
  </message>
  <message>
   <source>Show on all desktops</source>
   <translation>Auf allen Arbeitsflächen zeigen</translation>
  </message>
  <message>
   <source>Frameless</source>
   <translation>Ohne Rahmen</translation>
  </message>
  <message>
   <source>Wayland does not let a program choose this: use your desktop's window menu.</source>
   <translation>Unter Wayland kann ein Programm das nicht selbst wählen: Nutzen Sie das Fenstermenü Ihrer Arbeitsumgebung.</translation>
  </message>
  <message>
   <source>Alert when the battery is below:</source>
   <translation>Warnen, wenn die Batterie unter:</translation>
  </message>
  <message>
   <source>Alert when memory is above:</source>
   <translation>Warnen, wenn der Arbeitsspeicher über:</translation>
  </message>
  <message>
   <source>Alert when the disk is above:</source>
   <translation>Warnen, wenn die Festplatte über:</translation>
  </message>
  <message>
   <source>Never</source>
   <translation>Nie</translation>
  </message>
  <message>
   <source>Show CPU and memory in the tray icon</source>
   <translation>CPU und Arbeitsspeicher im Symbol der Leiste zeigen</translation>
  </message>
  <message>
   <source>Battery at %.0f %%</source>
   <translation>Batterie bei %.0f %%</translation>
  </message>
  <message>
   <source>Plug in the charger soon.</source>
   <translation>Schließen Sie bald das Ladegerät an.</translation>
  </message>
  <message>
   <source>Memory at %.0f %%</source>
   <translation>Arbeitsspeicher bei %.0f %%</translation>
  </message>
  <message>
   <source>Programs may slow down: close the ones you do not need.</source>
   <translation>Programme können langsamer werden: Schließen Sie, was Sie nicht brauchen.</translation>
  </message>
  <message>
   <source>Disk at %.0f %%</source>
   <translation>Festplatte bei %.0f %%</translation>
  </message>
  <message>
   <source>The start-up disk is nearly full: free some space.</source>
   <translation>Das Startvolume ist fast voll: Geben Sie Speicherplatz frei.</translation>
  </message>
  <message>
   <source>History</source>
   <translation>Verlauf</translation>
  </message>
  <message>
   <source>Last hour</source>
   <translation>Letzte Stunde</translation>
  </message>
  <message>
   <source>Last day</source>
   <translation>Letzter Tag</translation>
  </message>
  <message>
   <source>Last 30 days</source>
   <translation>Letzte 30 Tage</translation>
  </message>
  <message>
   <source>Nothing was recorded in this span.</source>
   <translation>In diesem Zeitraum wurde nichts aufgezeichnet.</translation>
  </message>
  <message>
   <source>Process</source>
   <translation>Prozess</translation>
  </message>
  <message>
   <source>c m n N sort  / filter  k K signal  t close</source>
   <translation>c m n N sortieren  / filtern  k K Signal  t schließen</translation>
  </message>
  <message>
   <source>Enter keep  Esc clear</source>
   <translation>Enter behalten  Esc löschen</translation>
  </message>
  <message>
   <source>Filter: %s</source>
   <translation>Filter: %s</translation>
  </message>
  <message>
   <source>Send %s to %d %s? y: yes, other keys: no</source>
   <translation>%s an %d %s senden? y: ja, andere Tasten: nein</translation>
  </message>
  <message>
   <source>%s sent to %d</source>
   <translation>%s an %d gesendet</translation>
  </message>
  <message>
   <source>%s not sent to %d: %s</source>
   <translation>%s nicht an %d gesendet: %s</translation>
  </message>
  <message>
   <source>Palette:</source>
   <translation>Palette:</translation>
  </message>
  <message>
   <source>Default (green, amber, red)</source>
   <translation>Standard (grün, gelb, rot)</translation>
  </message>
  <message>
   <source>Colour-blind safe (blue, orange, vermilion)</source>
   <translation>Farbenblind-sicher (blau, orange, zinnober)</translation>
  </message>
  <message>
   <source>Layout:</source>
   <translation>Anordnung:</translation>
  </message>
  <message>
   <source>Vertical</source>
   <translation>Senkrecht</translation>
  </message>
  <message>
   <source>Horizontal, for a screen&apos;s edge</source>
   <translation>Waagerecht, für einen Bildschirmrand</translation>
  </message>
  <message>
   <source>Scale:</source>
   <translation>Größe:</translation>
  </message>
  <message>
   <source>Opacity:</source>
   <translation>Deckkraft:</translation>
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
