<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>DesktopActionWindow</name>
    <message>
        <source>Extract each here</source>
        <translation>Jedes hier entpacken</translation>
    </message>
    <message>
        <source>Extract each into its own folder</source>
        <translation>Jedes in einen eigenen Ordner entpacken</translation>
    </message>
    <message>
        <source>Compress each into its own ZIP</source>
        <translation>Jedes in ein eigenes ZIP packen</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Confirm overwrite</source>
        <translation>Überschreiben bestätigen</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Passwort</translation>
    </message>
    <message>
        <source>Archive %1 of %2: %3, %4%</source>
        <translation>Archiv %1 von %2: %3, %4%</translation>
    </message>
    <message>
        <source>%1: no such file or folder; skipped</source>
        <translation>%1: Datei oder Ordner nicht gefunden; übersprungen</translation>
    </message>
    <message>
        <source> Cancelled.</source>
        <translation> Abgebrochen.</translation>
    </message>
    <message>
        <source> Stopped: %1</source>
        <translation> Angehalten: %1</translation>
    </message>
    <message>
        <source>Wrote %1 %2 with %3 %4; skipped %5.%6</source>
        <translation>%1 %2 mit %3 %4 geschrieben; %5 übersprungen.%6</translation>
    </message>
    <message>
        <source>archive</source>
        <translation>Archiv</translation>
    </message>
    <message>
        <source>archives</source>
        <translation>Archive</translation>
    </message>
    <message>
        <source>file</source>
        <translation>Datei</translation>
    </message>
    <message>
        <source>files</source>
        <translation>Dateien</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
</context>
</TS>
