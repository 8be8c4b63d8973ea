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
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>%1: %2; skipped</source>
        <translation>%1: %2; übersprungen</translation>
    </message>
    <message>
        <source>Wrote %1 with %2; skipped %3.%4</source>
        <translation>%1 mit %2 geschrieben; %3 übersprungen.%4</translation>
    </message>
    <message numerus="yes">
        <source>%n archive(s)</source>
        <translation>
            <numerusform>%n Archiv</numerusform>
            <numerusform>%n Archive</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n file(s)</source>
        <translation>
            <numerusform>%n Datei</numerusform>
            <numerusform>%n Dateien</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>EngineText</name>
    <message>
        <source>Not a valid zip file!</source>
        <translation>Keine gültige ZIP-Datei!</translation>
    </message>
    <message>
        <source>Incomplete Zip File</source>
        <translation>Unvollständige ZIP-Datei</translation>
    </message>
    <message>
        <source>Premature end of file reached</source>
        <translation>Vorzeitiges Dateiende erreicht</translation>
    </message>
    <message>
        <source>User Aborted Operation</source>
        <translation>Vorgang vom Benutzer abgebrochen</translation>
    </message>
    <message>
        <source>User canceled Zip operation</source>
        <translation>ZIP-Vorgang vom Benutzer abgebrochen</translation>
    </message>
    <message>
        <source>User canceled setting zip file name.</source>
        <translation>Wahl des ZIP-Dateinamens vom Benutzer abgebrochen.</translation>
    </message>
    <message>
        <source>User canceled loading new disk.</source>
        <translation>Einlegen des nächsten Datenträgers vom Benutzer abgebrochen.</translation>
    </message>
    <message>
        <source>User canceled Set Desination Directory</source>
        <translation>Wahl des Zielordners vom Benutzer abgebrochen</translation>
    </message>
    <message>
        <source>Operation aborted</source>
        <translation>Vorgang abgebrochen</translation>
    </message>
    <message>
        <source>File is larger than uncompressed size!</source>
        <translation>Die Datei ist größer als ihre entpackte Größe!</translation>
    </message>
    <message>
        <source>Not enough room to write archive</source>
        <translation>Nicht genug Platz, um das Archiv zu schreiben</translation>
    </message>
    <message>
        <source>Cant write uncompressed file</source>
        <translation>Die entpackte Datei kann nicht geschrieben werden</translation>
    </message>
    <message>
        <source>Unable to save Zip Configuration File to disk</source>
        <translation>Die ZIP-Konfigurationsdatei kann nicht gespeichert werden</translation>
    </message>
    <message>
        <source>error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>Stream read error</source>
        <translation>Lesefehler im Datenstrom</translation>
    </message>
    <message>
        <source>Stream write error</source>
        <translation>Schreibfehler im Datenstrom</translation>
    </message>
    <message>
        <source>Seek error</source>
        <translation>Positionierungsfehler</translation>
    </message>
    <message>
        <source>Entries overlap each other (a possible zip bomb)</source>
        <translation>Einträge überlappen sich (möglicherweise eine ZIP-Bombe)</translation>
    </message>
    <message>
        <source>Not a valid zip file: two entries share one local header</source>
        <translation>Keine gültige ZIP-Datei: zwei Einträge teilen sich einen lokalen Header</translation>
    </message>
    <message>
        <source>A multi-part archive cannot be updated: %1</source>
        <translation>Ein mehrteiliges Archiv kann nicht aktualisiert werden: %1</translation>
    </message>
    <message>
        <source>The file grew past 4 GiB while it was being added: %1</source>
        <translation>Die Datei ist beim Hinzufügen über 4 GiB gewachsen: %1</translation>
    </message>
    <message>
        <source>Cannot open file %1</source>
        <translation>Die Datei %1 kann nicht geöffnet werden</translation>
    </message>
    <message>
        <source>Cannot create file %1: %2</source>
        <translation>Die Datei %1 kann nicht angelegt werden: %2</translation>
    </message>
    <message>
        <source>Cannot create file %1</source>
        <translation>Die Datei %1 kann nicht angelegt werden</translation>
    </message>
    <message>
        <source>Cannot create a file in %1: %2</source>
        <translation>In %1 kann keine Datei angelegt werden: %2</translation>
    </message>
    <message>
        <source>Cannot create %1: a file of that name exists</source>
        <translation>%1 kann nicht angelegt werden: eine Datei dieses Namens ist vorhanden</translation>
    </message>
    <message>
        <source>Cannot create %1: it is a symbolic link to nothing</source>
        <translation>%1 kann nicht angelegt werden: es ist eine symbolische Verknüpfung ins Leere</translation>
    </message>
    <message>
        <source>Cannot create %1: %2</source>
        <translation>%1 kann nicht angelegt werden: %2</translation>
    </message>
    <message>
        <source>Cannot replace %1: %2</source>
        <translation>%1 kann nicht ersetzt werden: %2</translation>
    </message>
    <message>
        <source>%1: its directory is damaged</source>
        <translation>%1: das Inhaltsverzeichnis des Archivs ist beschädigt</translation>
    </message>
    <message>
        <source>%1: no local header at offset %2</source>
        <translation>%1: kein lokaler Header an Position %2</translation>
    </message>
    <message>
        <source>%1: the archive ends inside the entry&apos;s local header</source>
        <translation>%1: das Archiv endet im lokalen Header des Eintrags</translation>
    </message>
    <message>
        <source>%1: the archive ends inside the entry&apos;s data</source>
        <translation>%1: das Archiv endet in den Daten des Eintrags</translation>
    </message>
    <message>
        <source>%1: cannot write %2: %3</source>
        <translation>%1: %2 kann nicht geschrieben werden: %3</translation>
    </message>
    <message>
        <source>Replace existing file %1?</source>
        <translation>Vorhandene Datei %1 ersetzen?</translation>
    </message>
    <message>
        <source>Please insert disk %1 of the multi-disk set.</source>
        <translation>Bitte Datenträger %1 des mehrteiligen Satzes einlegen.</translation>
    </message>
    <message>
        <source>Unknown Compression Method</source>
        <translation>Unbekannte Komprimierungsmethode</translation>
    </message>
    <message>
        <source>Zip Error</source>
        <translation>ZIP-Fehler</translation>
    </message>
    <message>
        <source>The file got shorter while it was being read; the entry holds what was read.</source>
        <translation>Die Datei wurde beim Lesen kürzer; der Eintrag enthält das Gelesene.</translation>
    </message>
    <message>
        <source>the archive ends inside the entry&apos;s data</source>
        <translation>das Archiv endet in den Daten des Eintrags</translation>
    </message>
    <message>
        <source>the data is longer than its recorded size of %1 bytes</source>
        <translation>die Daten sind länger als ihre vermerkte Größe von %1 Bytes</translation>
    </message>
    <message>
        <source>the data is shorter than its recorded size (%1 of %2 bytes)</source>
        <translation>die Daten sind kürzer als ihre vermerkte Größe (%1 von %2 Bytes)</translation>
    </message>
    <message>
        <source>the compressed data ends before its stream does</source>
        <translation>die komprimierten Daten enden vor dem Ende ihres Datenstroms</translation>
    </message>
    <message>
        <source>the compressed data is broken (a distance reaches before the data)</source>
        <translation>die komprimierten Daten sind beschädigt (ein Abstand reicht vor den Anfang der Daten)</translation>
    </message>
    <message>
        <source>the compressed data is broken</source>
        <translation>die komprimierten Daten sind beschädigt</translation>
    </message>
    <message>
        <source>the authentication code does not match: the encrypted data was changed</source>
        <translation>der Authentifizierungscode stimmt nicht: die verschlüsselten Daten wurden verändert</translation>
    </message>
    <message>
        <source>AES encryption without its extra field</source>
        <translation>AES-Verschlüsselung ohne ihr Zusatzfeld</translation>
    </message>
    <message>
        <source>the AES keys cannot be derived</source>
        <translation>die AES-Schlüssel können nicht abgeleitet werden</translation>
    </message>
    <message>
        <source>the AES cipher cannot be set up</source>
        <translation>die AES-Verschlüsselung kann nicht eingerichtet werden</translation>
    </message>
    <message>
        <source>no random bytes for the AES salt</source>
        <translation>keine Zufallsbytes für das AES-Salt</translation>
    </message>
    <message>
        <source>the LZMA properties are not as the format has them</source>
        <translation>die LZMA-Eigenschaften entsprechen nicht dem Format</translation>
    </message>
    <message>
        <source>the LZMA data needs a dictionary larger than 256 MiB</source>
        <translation>die LZMA-Daten brauchen ein Wörterbuch größer als 256 MiB</translation>
    </message>
    <message>
        <source>the XZ data needs more than 256 MiB of memory</source>
        <translation>die XZ-Daten brauchen mehr als 256 MiB Speicher</translation>
    </message>
    <message>
        <source>out of memory for decompression</source>
        <translation>nicht genug Speicher zum Entpacken</translation>
    </message>
    <message>
        <source>out of memory for compression</source>
        <translation>nicht genug Speicher zum Packen</translation>
    </message>
    <message>
        <source>unsupported compression method %1</source>
        <translation>nicht unterstützte Komprimierungsmethode %1</translation>
    </message>
    <message>
        <source>a link target longer than %1 bytes</source>
        <translation>ein Verknüpfungsziel länger als %1 Bytes</translation>
    </message>
    <message>
        <source>wrong password; skipped</source>
        <translation>falsches Passwort; übersprungen</translation>
    </message>
    <message>
        <source>encrypted and no password given; skipped</source>
        <translation>verschlüsselt und kein Passwort angegeben; übersprungen</translation>
    </message>
    <message>
        <source>wrong password</source>
        <translation>falsches Passwort</translation>
    </message>
    <message>
        <source>encrypted and no password given</source>
        <translation>verschlüsselt und kein Passwort angegeben</translation>
    </message>
    <message>
        <source>kept the existing file %1</source>
        <translation>vorhandene Datei %1 behalten</translation>
    </message>
    <message>
        <source>cannot create %1; skipped</source>
        <translation>%1 kann nicht angelegt werden; übersprungen</translation>
    </message>
    <message>
        <source>the stored name holds a NUL byte; skipped</source>
        <translation>der gespeicherte Name enthält ein NUL-Byte; übersprungen</translation>
    </message>
    <message>
        <source>a link that leads out of the destination; skipped</source>
        <translation>eine Verknüpfung, die aus dem Zielordner hinausführt; übersprungen</translation>
    </message>
    <message>
        <source>skipped</source>
        <translation>übersprungen</translation>
    </message>
    <message>
        <source>an entry of the same name is in the archive already</source>
        <translation>ein Eintrag gleichen Namens ist bereits im Archiv</translation>
    </message>
    <message>
        <source>cannot be read (%1)</source>
        <translation>kann nicht gelesen werden (%1)</translation>
    </message>
    <message>
        <source>cannot be read</source>
        <translation>kann nicht gelesen werden</translation>
    </message>
    <message>
        <source>changed while it was being added</source>
        <translation>wurde beim Hinzufügen verändert</translation>
    </message>
    <message>
        <source>left out</source>
        <translation>ausgelassen</translation>
    </message>
    <message>
        <source>not found</source>
        <translation>nicht gefunden</translation>
    </message>
    <message>
        <source>a folder, not a file</source>
        <translation>ein Ordner, keine Datei</translation>
    </message>
    <message>
        <source>hidden, and hidden files are left out</source>
        <translation>versteckt, und versteckte Dateien werden ausgelassen</translation>
    </message>
    <message>
        <source>%1: the entry runs into the bytes after it (the archive is not whole)</source>
        <translation>%1: der Eintrag reicht in die Bytes dahinter (das Archiv ist nicht vollständig)</translation>
    </message>
    <message>
        <source>The copy written does not hold the archive&apos;s entries as its directory lists them</source>
        <translation>Die geschriebene Kopie enthält die Einträge des Archivs nicht so, wie sein Inhaltsverzeichnis sie aufführt</translation>
    </message>
</context>
<context>
    <name>TFormMain</name>
    <message>
        <source>Visits Website...</source>
        <translation>Website besuchen...</translation>
    </message>
    <message>
        <source>About...</source>
        <translation>Über...</translation>
    </message>
    <message>
        <source>Multiple ZIP</source>
        <translation>Mehrfach-ZIP</translation>
    </message>
    <message>
        <source>Multiple UnZIP</source>
        <translation>Mehrfach-Entpacken</translation>
    </message>
    <message>
        <source>&amp;Menu</source>
        <translation>&amp;Menü</translation>
    </message>
    <message>
        <source>Menu</source>
        <translation>Menü</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Hilfe</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Hilfe</translation>
    </message>
    <message>
        <source>E&amp;xit</source>
        <translation>&amp;Beenden</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>The settings could not be saved to %1</source>
        <translation>Die Einstellungen konnten nicht in %1 gespeichert werden</translation>
    </message>
    <message>
        <source>A run is under way. Cancel it and quit?</source>
        <translation>Ein Vorgang läuft noch. Abbrechen und beenden?</translation>
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
        <translation>Einen Platzhalter löschen</translation>
    </message>
    <message>
        <source>Delete all items</source>
        <translation>Alle Platzhalter löschen</translation>
    </message>
    <message>
        <source>Up a item</source>
        <translation>Platzhalter nach oben</translation>
    </message>
    <message>
        <source>Down a item</source>
        <translation>Platzhalter nach unten</translation>
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
        <translation>Bitte einen Platzhalter durch Anklicken auswählen</translation>
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
<context>
    <name>UnZipPage</name>
    <message>
        <source>Extr&amp;act All</source>
        <translation>Alle entp&amp;acken</translation>
    </message>
    <message>
        <source>Extract all compressed files in ZIP archives</source>
        <translation>Alle Einträge der ZIP-Archive entpacken</translation>
    </message>
    <message>
        <source>&amp;Extract Selected</source>
        <translation>Auswahl &amp;entpacken</translation>
    </message>
    <message>
        <source>Extract all selected compressed files in ZIP archives</source>
        <translation>Alle ausgewählten Einträge der ZIP-Archive entpacken</translation>
    </message>
    <message>
        <source>Ca&amp;ncel</source>
        <translation>Abbre&amp;chen</translation>
    </message>
    <message>
        <source>Cancel Operation</source>
        <translation>Vorgang abbrechen</translation>
    </message>
    <message>
        <source>Te&amp;st</source>
        <translation>&amp;Testen</translation>
    </message>
    <message>
        <source>Test the archives of the selected entries, or all: every entry decoded and checked</source>
        <translation>Die Archive der ausgewählten Einträge testen, oder alle: jeder Eintrag wird dekodiert und geprüft</translation>
    </message>
    <message>
        <source>A&amp;dd...</source>
        <translation>Hinzufü&amp;gen...</translation>
    </message>
    <message>
        <source>Add ZIP files by filename</source>
        <translation>ZIP-Dateien nach Dateinamen hinzufügen</translation>
    </message>
    <message>
        <source>Displa&amp;y</source>
        <translation>A&amp;nzeigen</translation>
    </message>
    <message>
        <source>Display compressed files in ZIP archives</source>
        <translation>Die Einträge der ZIP-Archive anzeigen</translation>
    </message>
    <message>
        <source>&amp;Remove</source>
        <translation>Ent&amp;fernen</translation>
    </message>
    <message>
        <source>Remove a item</source>
        <translation>Ein Archiv aus der Liste entfernen</translation>
    </message>
    <message>
        <source>Remo&amp;ve All</source>
        <translation>Alle entfe&amp;rnen</translation>
    </message>
    <message>
        <source>Remove all items</source>
        <translation>Alle Archive aus der Liste entfernen</translation>
    </message>
    <message>
        <source>Filter by name or folder</source>
        <translation>Nach Name oder Ordner filtern</translation>
    </message>
    <message>
        <source>Shows only the entries whose stored name holds this text, whatever its case</source>
        <translation>Zeigt nur die Einträge, deren gespeicherter Name diesen Text enthält, ohne Rücksicht auf Groß- und Kleinschreibung</translation>
    </message>
    <message>
        <source>&amp;Filter:</source>
        <translation>F&amp;ilter:</translation>
    </message>
    <message>
        <source>Sele&amp;ct All</source>
        <translation>Alle ausw&amp;ählen</translation>
    </message>
    <message>
        <source>Select all  items</source>
        <translation>Alle Einträge auswählen</translation>
    </message>
    <message>
        <source>&amp;Unselect All</source>
        <translation>Auswahl a&amp;ufheben</translation>
    </message>
    <message>
        <source>Unselect all items</source>
        <translation>Die Auswahl aller Einträge aufheben</translation>
    </message>
    <message>
        <source>De&amp;lete...</source>
        <translation>Lö&amp;schen...</translation>
    </message>
    <message>
        <source>Delete selected compressed files in ZIP archives</source>
        <translation>Die ausgewählten Einträge aus ihren ZIP-Archiven löschen</translation>
    </message>
    <message>
        <source>Display Options</source>
        <translation>Anzeigeoptionen</translation>
    </message>
    <message>
        <source>Automatically display compressed files list after you have selected  one or multiple &amp;ZIP archives</source>
        <translation>Liste der Einträge automatisch anzeigen, nachdem ein oder mehrere &amp;ZIP-Archive gewählt wurden</translation>
    </message>
    <message>
        <source>Names in archives from &amp;Windows tools:</source>
        <translation>Namen in Archiven von Windows-Werkzeugen &amp;lesen als:</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>Fortschritt</translation>
    </message>
    <message>
        <source>Entries skipped or failed in the last run</source>
        <translation>Im letzten Vorgang übersprungene oder fehlgeschlagene Einträge</translation>
    </message>
    <message>
        <source>O&amp;pen destination</source>
        <translation>Ziel&amp;ordner öffnen</translation>
    </message>
    <message>
        <source>Open the folder the last extraction wrote to</source>
        <translation>Den Ordner öffnen, in den zuletzt entpackt wurde</translation>
    </message>
    <message>
        <source>Uncompress Preferences</source>
        <translation>Entpackoptionen</translation>
    </message>
    <message>
        <source>Please select directory</source>
        <translation>Bitte einen Ordner auswählen</translation>
    </message>
    <message>
        <source>Auto create new su&amp;bfolder under destination folder for each ZIP archive</source>
        <translation>Für &amp;jedes ZIP-Archiv automatisch einen neuen Unterordner im Zielordner anlegen</translation>
    </message>
    <message>
        <source>Use ori&amp;ginal directory name which is stored in ZIP archive</source>
        <translation>Im ZIP-Archiv gespeicherte Ordnernamen &amp;verwenden</translation>
    </message>
    <message>
        <source>Ex&amp;tract to:</source>
        <translation>Entpac&amp;ken nach:</translation>
    </message>
    <message>
        <source>&amp;Input Password ( If has )</source>
        <translation>&amp;Passwort (falls vorhanden)</translation>
    </message>
    <message>
        <source>&amp;Overwrite Mode:</source>
        <translation>Vorhandene &amp;Dateien:</translation>
    </message>
    <message>
        <source>Prompt before overwrite</source>
        <translation>Vor dem Überschreiben fragen</translation>
    </message>
    <message>
        <source>Always without prompt</source>
        <translation>Immer ohne Nachfrage überschreiben</translation>
    </message>
    <message>
        <source>Never</source>
        <translation>Nie überschreiben</translation>
    </message>
    <message>
        <source>If newer file</source>
        <translation>Wenn der Eintrag neuer ist</translation>
    </message>
    <message>
        <source>If older file</source>
        <translation>Wenn der Eintrag älter ist</translation>
    </message>
    <message>
        <source>Select one or multiple ZIP files by filename</source>
        <translation>Eine oder mehrere ZIP-Dateien auswählen</translation>
    </message>
    <message>
        <source>All ZIP files (*.zip)</source>
        <translation>Alle ZIP-Dateien (*.zip)</translation>
    </message>
    <message>
        <source>ZIP Archives: %1</source>
        <translation>ZIP-Archive: %1</translation>
    </message>
    <message>
        <source>Compressed Files To UnZIP: Hidden</source>
        <translation>Einträge zum Entpacken: ausgeblendet</translation>
    </message>
    <message>
        <source>Compressed Files To UnZIP: %1</source>
        <translation>Einträge zum Entpacken: %1</translation>
    </message>
    <message>
        <source>&amp;Open</source>
        <translation>Ö&amp;ffnen</translation>
    </message>
    <message>
        <source>&amp;Delete...</source>
        <translation>&amp;Löschen...</translation>
    </message>
    <message>
        <source>&amp;Copy name</source>
        <translation>Namen &amp;kopieren</translation>
    </message>
    <message>
        <source>ZIP Archives</source>
        <translation>ZIP-Archive</translation>
    </message>
    <message>
        <source>Compressed Files To UnZIP</source>
        <translation>Einträge zum Entpacken</translation>
    </message>
    <message>
        <source>Report</source>
        <translation>Bericht</translation>
    </message>
    <message>
        <source>Go on &amp;with the next archive when one fails</source>
        <translation>Bei Fehlern mit dem nächsten Archiv &amp;weitermachen</translation>
    </message>
    <message>
        <source>Off: an extraction or deletion stops at the first archive that fails</source>
        <translation>Aus: Entpacken oder Löschen hält beim ersten fehlgeschlagenen Archiv an</translation>
    </message>
    <message>
        <source>%1 shown</source>
        <translation>%1 angezeigt</translation>
    </message>
</context>
<context>
    <name>UnZipPageController</name>
    <message>
        <source>Please select a item by clicking</source>
        <translation>Bitte ein Archiv durch Anklicken auswählen</translation>
    </message>
    <message>
        <source>Listing archive %1 of %2: %3</source>
        <translation>Archiv %1 von %2 wird gelesen: %3</translation>
    </message>
    <message>
        <source>Listed %1; %2 could not be read.</source>
        <translation>%1 aufgelistet; %2 konnten nicht gelesen werden.</translation>
    </message>
    <message numerus="yes">
        <source>%n entry(s)</source>
        <translation>
            <numerusform>%n Eintrag</numerusform>
            <numerusform>%n Einträge</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1 of %n archive(s)</source>
        <translation>
            <numerusform>%1 von %n Archiv</numerusform>
            <numerusform>%1 von %n Archiven</numerusform>
        </translation>
    </message>
    <message>
        <source>No item for UnZIP, please select ZIP archives first!</source>
        <translation>Nichts zu entpacken, bitte zuerst ZIP-Archive auswählen!</translation>
    </message>
    <message>
        <source>No selected compressed files in Zip archives for UnZIP!</source>
        <translation>Keine Einträge der ZIP-Archive zum Entpacken ausgewählt!</translation>
    </message>
    <message>
        <source>Please select compressed files first!</source>
        <translation>Bitte zuerst Einträge auswählen!</translation>
    </message>
    <message>
        <source>Do you want to delete the selected %1 compressed files?</source>
        <translation>Sollen die %1 ausgewählten Einträge gelöscht werden?</translation>
    </message>
    <message>
        <source>Cannot create a temporary folder: %1</source>
        <translation>Es kann kein temporärer Ordner angelegt werden: %1</translation>
    </message>
    <message>
        <source>Please enter the folder to extract to.</source>
        <translation>Bitte den Zielordner zum Entpacken angeben.</translation>
    </message>
    <message>
        <source> Cancelled.</source>
        <translation> Abgebrochen.</translation>
    </message>
    <message>
        <source> Stopped: %1</source>
        <translation> Angehalten: %1</translation>
    </message>
    <message numerus="yes">
        <source> %1 of %n archive(s) failed.</source>
        <translation>
            <numerusform> %1 von %n Archiv fehlgeschlagen.</numerusform>
            <numerusform> %1 von %n Archiven fehlgeschlagen.</numerusform>
        </translation>
    </message>
    <message>
        <source>Extracted %1, skipped %2, failed %3.%4</source>
        <translation>%1 entpackt, %2 übersprungen, %3 fehlgeschlagen.%4</translation>
    </message>
    <message>
        <source>%1 bytes, %2</source>
        <translation>%1 Bytes, %2</translation>
    </message>
    <message>
        <source>Deleting from archive %1 of %2: %3</source>
        <translation>Löschen aus Archiv %1 von %2: %3</translation>
    </message>
    <message>
        <source>Testing archive %1 of %2: %3</source>
        <translation>Archiv %1 von %2 wird getestet: %3</translation>
    </message>
    <message numerus="yes">
        <source>%1: %n entry(s) OK</source>
        <translation>
            <numerusform>%1: %n Eintrag in Ordnung</numerusform>
            <numerusform>%1: %n Einträge in Ordnung</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1: %2 of %n entries failed</source>
        <translation>
            <numerusform>%1: %2 von %n Eintrag fehlgeschlagen</numerusform>
            <numerusform>%1: %2 von %n Einträgen fehlgeschlagen</numerusform>
        </translation>
    </message>
    <message>
        <source>Archive %1 of %2: %3 — %4</source>
        <translation>Archiv %1 von %2: %3 — %4</translation>
    </message>
    <message>
        <source>: OK</source>
        <translation>: in Ordnung</translation>
    </message>
    <message>
        <source>; not extracted</source>
        <translation>; nicht entpackt</translation>
    </message>
    <message>
        <source>: bad CRC %1 (stored %2)%3</source>
        <translation>: falsche CRC %1 (gespeichert %2)%3</translation>
    </message>
    <message>
        <source>The password does not open %1 of %2.
Enter another password:</source>
        <translation>Das Passwort öffnet %1 aus %2 nicht.
Bitte ein anderes Passwort eingeben:</translation>
    </message>
    <message>
        <source>its directory was damaged; the entries were read from their local headers</source>
        <translation>sein Inhaltsverzeichnis war beschädigt; die Einträge wurden aus ihren lokalen Headern gelesen</translation>
    </message>
    <message numerus="yes">
        <source>Listed %1 of %n archive(s).</source>
        <translation>
            <numerusform>%1 aus %n Archiv aufgelistet.</numerusform>
            <numerusform>%1 aus %n Archiven aufgelistet.</numerusform>
        </translation>
    </message>
    <message>
        <source>Cannot extract to %1: %2 is a file, not a folder.</source>
        <translation>Entpacken nach %1 nicht möglich: %2 ist eine Datei, kein Ordner.</translation>
    </message>
    <message>
        <source>Deleted nothing: none of the selected entries was found.</source>
        <translation>Nichts gelöscht: keiner der ausgewählten Einträge wurde gefunden.</translation>
    </message>
    <message numerus="yes">
        <source>Deleted %1 from %n archive(s).</source>
        <translation>
            <numerusform>%1 aus %n Archiv gelöscht.</numerusform>
            <numerusform>%1 aus %n Archiven gelöscht.</numerusform>
        </translation>
    </message>
    <message>
        <source>Tested %1: %2 OK, %3 failed</source>
        <translation>%1 getestet: %2 in Ordnung, %3 fehlgeschlagen</translation>
    </message>
    <message>
        <source>, %1 skipped by you</source>
        <translation>, %1 von Ihnen übersprungen</translation>
    </message>
    <message>
        <source>Extracted nothing: none of the selected entries was found.</source>
        <translation>Nichts entpackt: keiner der ausgewählten Einträge wurde gefunden.</translation>
    </message>
    <message>
        <source>Archive %1 of %2: %3</source>
        <translation>Archiv %1 von %2: %3</translation>
    </message>
    <message>
        <source>skipped by you</source>
        <translation>von Ihnen übersprungen</translation>
    </message>
    <message>
        <source>Replace existing file %1?</source>
        <translation>Vorhandene Datei %1 ersetzen?</translation>
    </message>
    <message>
        <source>In: %1
Existing file: %2
From the archive %3: %4</source>
        <translation>In: %1
Vorhandene Datei: %2
Aus dem Archiv %3: %4</translation>
    </message>
    <message>
        <source>Enter the password for %1 of %2:</source>
        <translation>Bitte das Passwort für %1 aus %2 eingeben:</translation>
    </message>
    <message>
        <source>this archive reads differently in other tools (two end records)</source>
        <translation>dieses Archiv wird von anderen Werkzeugen anders gelesen (zwei Endsätze)</translation>
    </message>
</context>
<context>
    <name>UnZipQuestions</name>
    <message>
        <source>Re&amp;name</source>
        <translation>&amp;Umbenennen</translation>
    </message>
    <message>
        <source>Write the file from the archive under a free name beside the existing one</source>
        <translation>Die Datei aus dem Archiv unter einem freien Namen neben die vorhandene schreiben</translation>
    </message>
    <message>
        <source>Skip this &amp;entry</source>
        <translation>Diesen &amp;Eintrag überspringen</translation>
    </message>
    <message>
        <source>Skip this &amp;archive</source>
        <translation>Dieses &amp;Archiv überspringen</translation>
    </message>
    <message>
        <source>File Exists Alert</source>
        <translation>Datei vorhanden</translation>
    </message>
</context>
<context>
    <name>ZipPage</name>
    <message>
        <source>&amp;Create ZIP</source>
        <translation>ZIP &amp;erstellen</translation>
    </message>
    <message>
        <source>Create ZIP</source>
        <translation>ZIP-Archive erstellen</translation>
    </message>
    <message>
        <source>&amp;View ZIP</source>
        <translation>ZIP an&amp;zeigen</translation>
    </message>
    <message>
        <source>View Last Created ZIP Archives</source>
        <translation>Die zuletzt erstellten ZIP-Archive anzeigen</translation>
    </message>
    <message>
        <source>Cance&amp;l</source>
        <translation>Abbre&amp;chen</translation>
    </message>
    <message>
        <source>Cancel Operation</source>
        <translation>Vorgang abbrechen</translation>
    </message>
    <message>
        <source>Add &amp;Files...</source>
        <translation>&amp;Dateien...</translation>
    </message>
    <message>
        <source>Add items by filename</source>
        <translation>Elemente nach Dateinamen hinzufügen</translation>
    </message>
    <message>
        <source>Add &amp;Wildcard...</source>
        <translation>&amp;Platzhalter...</translation>
    </message>
    <message>
        <source>Add item by wildcard</source>
        <translation>Ein Element nach Platzhalter hinzufügen</translation>
    </message>
    <message>
        <source>&amp;Up</source>
        <translation>Nach &amp;oben</translation>
    </message>
    <message>
        <source>Move item up</source>
        <translation>Element nach oben verschieben</translation>
    </message>
    <message>
        <source>&amp;Down</source>
        <translation>Nach &amp;unten</translation>
    </message>
    <message>
        <source>Move item down </source>
        <translation>Element nach unten verschieben</translation>
    </message>
    <message>
        <source>&amp;Remove</source>
        <translation>Ent&amp;fernen</translation>
    </message>
    <message>
        <source>Remove a item</source>
        <translation>Ein Element entfernen</translation>
    </message>
    <message>
        <source>Remove &amp;All</source>
        <translation>&amp;Alle entfernen</translation>
    </message>
    <message>
        <source>Remove all items</source>
        <translation>Alle Elemente entfernen</translation>
    </message>
    <message>
        <source>Create Method</source>
        <translation>Erstellungsart</translation>
    </message>
    <message>
        <source>&amp;Single ZIP for all items</source>
        <translation>Ein ZIP für alle Elemen&amp;te</translation>
    </message>
    <message>
        <source>&amp;Blocked ZIP, part size</source>
        <translation>&amp;Geteiltes ZIP, Teilgröße</translation>
    </message>
    <message>
        <source>Multiple &amp;ZIPs, per</source>
        <translation>Mehrere ZIPs, &amp;je</translation>
    </message>
    <message>
        <source>Bytes</source>
        <translation>Bytes</translation>
    </message>
    <message>
        <source>Items </source>
        <translation>Elemente </translation>
    </message>
    <message>
        <source>Name the parts x.zip.z01, x.zip.z02, ... (&amp;older form)</source>
        <translation>Teile x.zip.z01, x.zip.z02, ... benennen (ä&amp;ltere Form)</translation>
    </message>
    <message>
        <source>Unchecked, the parts of x.zip are x.z01, x.z02, ..., x.zip, as Info-ZIP&apos;s zip -s names them and 7-Zip reads them</source>
        <translation>Nicht angehakt heißen die Teile von x.zip x.z01, x.z02, ..., x.zip, wie zip -s von Info-ZIP sie benennt und 7-Zip sie liest</translation>
    </message>
    <message>
        <source>Filename Options</source>
        <translation>Dateinamen</translation>
    </message>
    <message>
        <source>Please select directory</source>
        <translation>Bitte einen Ordner auswählen</translation>
    </message>
    <message>
        <source>Auto &amp;generate ZIP filename</source>
        <translation>ZIP-Dateinamen automatisch e&amp;rzeugen</translation>
    </message>
    <message>
        <source>Ma&amp;nually generate filename</source>
        <translation>Dateinamen manuell &amp;vergeben</translation>
    </message>
    <message>
        <source>Destination Directory</source>
        <translation>Zielordner</translation>
    </message>
    <message>
        <source>plus number, append 0 when less then</source>
        <translation>plus Nummer, mit Nullen auf</translation>
    </message>
    <message>
        <source>number width</source>
        <translation>Stellen</translation>
    </message>
    <message>
        <source>Compress Preferences</source>
        <translation>Packoptionen</translation>
    </message>
    <message>
        <source>Store full &amp;path information</source>
        <translation>Vollständige Pfadangaben &amp;speichern</translation>
    </message>
    <message>
        <source>&amp;Include subfolder</source>
        <translation>Unterordner e&amp;inschließen</translation>
    </message>
    <message>
        <source>This is only valid in the items which are created by Select Files by Wildcard method</source>
        <translation>Gilt nur für Elemente, die mit „Dateien nach Platzhalter auswählen“ angelegt wurden</translation>
    </message>
    <message>
        <source>Include s&amp;ystem and hidden attribute files </source>
        <translation>S&amp;ystem- und versteckte Dateien einschließen</translation>
    </message>
    <message>
        <source>A value of 9 has the highest compression ratio</source>
        <translation>Der Wert 9 ergibt die stärkste Kompression</translation>
    </message>
    <message>
        <source>Add password &amp;to protect Zip file</source>
        <translation>Archiv mit Pass&amp;wort schützen</translation>
    </message>
    <message>
        <source>ZIP 2.0 (compatible)</source>
        <translation>ZIP 2.0 (kompatibel)</translation>
    </message>
    <message>
        <source>AES-256 (strong)</source>
        <translation>AES-256 (stark)</translation>
    </message>
    <message>
        <source>ZIP 2.0: every tool opens it, but it is weak. AES-256: 7-Zip, WinZip and most current tools open it; Info-ZIP unzip does not</source>
        <translation>ZIP 2.0: jedes Werkzeug öffnet es, aber es ist schwach. AES-256: 7-Zip, WinZip und die meisten aktuellen Werkzeuge öffnen es, unzip von Info-ZIP nicht</translation>
    </message>
    <message>
        <source>Add comm&amp;ent</source>
        <translation>&amp;Kommentar hinzufügen</translation>
    </message>
    <message>
        <source>Compression ratio</source>
        <translation>Kompressionsstufe</translation>
    </message>
    <message>
        <source>Encryption:</source>
        <translation>Verschlüsselung:</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Passwort</translation>
    </message>
    <message>
        <source>Confirm</source>
        <translation>Bestätigen</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>Fortschritt</translation>
    </message>
    <message>
        <source>Files skipped in the last run</source>
        <translation>Im letzten Vorgang übersprungene Dateien</translation>
    </message>
    <message>
        <source>Select one or multiple files by filename</source>
        <translation>Eine oder mehrere Dateien auswählen</translation>
    </message>
    <message>
        <source>All ZIP files (*.*)</source>
        <translation>Alle Dateien (*.*)</translation>
    </message>
    <message>
        <source>Items To ZIP: %1</source>
        <translation>Elemente zum Packen: %1</translation>
    </message>
    <message>
        <source>Items To ZIP</source>
        <translation>Elemente zum Packen</translation>
    </message>
    <message>
        <source>Other Size</source>
        <translation>Andere Größe</translation>
    </message>
    <message>
        <source>Filename</source>
        <translation>Dateiname</translation>
    </message>
    <message>
        <source>Comment</source>
        <translation>Kommentar</translation>
    </message>
    <message>
        <source>Report</source>
        <translation>Bericht</translation>
    </message>
</context>
<context>
    <name>ZipPageController</name>
    <message>
        <source>Zip 100M Disk</source>
        <translation>Zip-Diskette 100M</translation>
    </message>
    <message>
        <source>Zip 250M Disk</source>
        <translation>Zip-Diskette 250M</translation>
    </message>
    <message>
        <source>CD-ROM 650M</source>
        <translation>CD-ROM 650M</translation>
    </message>
    <message>
        <source>Other Size</source>
        <translation>Andere Größe</translation>
    </message>
    <message>
        <source>Please select a item by clicking</source>
        <translation>Bitte ein Element durch Anklicken auswählen</translation>
    </message>
    <message>
        <source>No item for ZIP, please select files first!</source>
        <translation>Nichts zu packen, bitte zuerst Dateien auswählen!</translation>
    </message>
    <message>
        <source>The Confirm password is not matching</source>
        <translation>Die Passwortbestätigung stimmt nicht überein</translation>
    </message>
    <message>
        <source>Please enter a password</source>
        <translation>Bitte ein Passwort eingeben</translation>
    </message>
    <message>
        <source>The filename &apos;%1&apos; must not contain &apos;/&apos;: the ZIP archives are made in the destination directory</source>
        <translation>Der Dateiname „%1“ darf kein „/“ enthalten: die ZIP-Archive werden im Zielordner angelegt</translation>
    </message>
    <message>
        <source>Unable to create directory</source>
        <translation>Der Ordner kann nicht angelegt werden</translation>
    </message>
    <message>
        <source>Can not create the folder &apos;%1&apos;, the operation will be aborted!</source>
        <translation>Der Ordner „%1“ kann nicht angelegt werden, der Vorgang wird abgebrochen!</translation>
    </message>
    <message>
        <source>%1: %2; skipped</source>
        <translation>%1: %2; übersprungen</translation>
    </message>
    <message>
        <source>Archive %1 of %2: %3</source>
        <translation>Archiv %1 von %2: %3</translation>
    </message>
    <message>
        <source>Archive %1 of %2: %3, %4%%5</source>
        <translation>Archiv %1 von %2: %3, %4 %%5</translation>
    </message>
    <message>
        <source> Stopped: %1</source>
        <translation> Angehalten: %1</translation>
    </message>
    <message>
        <source> Cancelled.</source>
        <translation> Abgebrochen.</translation>
    </message>
    <message>
        <source>No ZIP archive was written: the items match no file.</source>
        <translation>Es wurde kein ZIP-Archiv geschrieben: die Elemente treffen auf keine Datei zu.</translation>
    </message>
    <message>
        <source>No ZIP archive was written: no file could be added.</source>
        <translation>Es wurde kein ZIP-Archiv geschrieben: keine Datei konnte hinzugefügt werden.</translation>
    </message>
    <message>
        <source>Wrote %1 with %2; skipped %3.%4</source>
        <translation>%1 mit %2 geschrieben; %3 übersprungen.%4</translation>
    </message>
    <message numerus="yes">
        <source>%n archive(s)</source>
        <translation>
            <numerusform>%n Archiv</numerusform>
            <numerusform>%n Archive</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n file(s)</source>
        <translation>
            <numerusform>%n Datei</numerusform>
            <numerusform>%n Dateien</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>ui</name>
    <message>
        <source>Open</source>
        <translation>Öffnen</translation>
    </message>
    <message>
        <source>Please select directory</source>
        <translation>Bitte einen Ordner auswählen</translation>
    </message>
</context>
<context>
    <name>ui::EntryListView</name>
    <message>
        <source>Shift+Click or Ctrl+Click to select multi-file</source>
        <translation>Umschalt+Klick oder Strg+Klick wählt mehrere Einträge aus</translation>
    </message>
</context>
<context>
    <name>ui::FileDetailModel</name>
    <message>
        <source>ZIP Archive</source>
        <translation>ZIP-Archiv</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Date</source>
        <translation>Datum</translation>
    </message>
    <message>
        <source>Size (kb)</source>
        <translation>Größe (KB)</translation>
    </message>
    <message>
        <source>Path</source>
        <translation>Pfad</translation>
    </message>
    <message>
        <source>%1 bytes</source>
        <translation>%1 Bytes</translation>
    </message>
</context>
<context>
    <name>ui::FolderEdit</name>
    <message>
        <source>Browse for %1</source>
        <translation>Auswählen: %1</translation>
    </message>
</context>
</TS>
