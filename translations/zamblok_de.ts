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
<context>
    <name>TFormWildcard</name>
    <message>
        <source>Edit Wildcard</source>
        <translation>Platzhalter bearbeiten</translation>
    </message>
    <message>
        <source>Please enter a new  wildcard</source>
        <translation>Bitte einen neuen Platzhalter eingeben</translation>
    </message>
    <message>
        <source>Delete a item</source>
        <translation>Einen Eintrag löschen</translation>
    </message>
    <message>
        <source>Delete all items</source>
        <translation>Alle Einträge löschen</translation>
    </message>
    <message>
        <source>Up a item</source>
        <translation>Eintrag nach oben</translation>
    </message>
    <message>
        <source>Down a item</source>
        <translation>Eintrag nach unten</translation>
    </message>
    <message>
        <source>Add wildcard</source>
        <translation>Platzhalter hinzufügen</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Hilfe</translation>
    </message>
    <message>
        <source>&amp;Ok</source>
        <translation>&amp;OK</translation>
    </message>
    <message>
        <source>Can&amp;cel</source>
        <translation>Ab&amp;brechen</translation>
    </message>
    <message>
        <source>Wildcard list:</source>
        <translation>Platzhalterliste:</translation>
    </message>
    <message>
        <source>Add wildcard:</source>
        <translation>Platzhalter hinzufügen:</translation>
    </message>
    <message>
        <source>Please select a item by clicking</source>
        <translation>Bitte einen Eintrag durch Anklicken auswählen</translation>
    </message>
    <message>
        <source>The wildcards could not be saved to %1</source>
        <translation>Die Platzhalter konnten nicht in %1 gespeichert werden</translation>
    </message>
</context>
<context>
    <name>TFormselectbyfilter</name>
    <message>
        <source>Select files by wildcard</source>
        <translation>Dateien nach Platzhalter auswählen</translation>
    </message>
    <message>
        <source>Edit Wildcard</source>
        <translation>Platzhalter bearbeiten</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Hilfe</translation>
    </message>
    <message>
        <source>&amp;Ok</source>
        <translation>&amp;OK</translation>
    </message>
    <message>
        <source>Can&amp;cel</source>
        <translation>Ab&amp;brechen</translation>
    </message>
    <message>
        <source>Folder selected:</source>
        <translation>Gewählter Ordner:</translation>
    </message>
    <message>
        <source>Wildcard:</source>
        <translation>Platzhalter:</translation>
    </message>
    <message>
        <source>Result:</source>
        <translation>Ergebnis:</translation>
    </message>
    <message>
        <source>Please select a folder!</source>
        <translation>Bitte einen Ordner auswählen!</translation>
    </message>
</context>
<context>
    <name>THelpWindow</name>
    <message>
        <source>Zamblok Help</source>
        <translation>Zamblok-Hilfe</translation>
    </message>
    <message>
        <source>&lt;p&gt;The help page %1 is missing from %2.&lt;/p&gt;</source>
        <translation>&lt;p&gt;Die Hilfeseite %1 fehlt in %2.&lt;/p&gt;</translation>
    </message>
</context>
<context>
    <name>Taboutform</name>
    <message>
        <source>About Zamblok</source>
        <translation>Über Zamblok</translation>
    </message>
    <message>
        <source>Zamblok V1.00  ( Build 4 )</source>
        <translation>Zamblok V1.00  ( Build 4 )</translation>
    </message>
    <message>
        <source>A batch tool for ZIP archives: create many archives in one run,
list, extract and delete the entries of many archives at once.</source>
        <translation>Ein Stapelwerkzeug für ZIP-Archive: viele Archive in einem Lauf erstellen,
die Einträge vieler Archive auf einmal auflisten, entpacken und löschen.</translation>
    </message>
    <message>
        <source>Cl&amp;ose</source>
        <translation>Schl&amp;ießen</translation>
    </message>
</context>
</TS>
