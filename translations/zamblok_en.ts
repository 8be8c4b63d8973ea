<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>DesktopActionWindow</name>
    <message numerus="yes">
        <source>%n archive(s)</source>
        <translation>
            <numerusform>%n archive</numerusform>
            <numerusform>%n archives</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n file(s)</source>
        <translation>
            <numerusform>%n file</numerusform>
            <numerusform>%n files</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>UnZipPageController</name>
    <message numerus="yes">
        <source>%n entry(s)</source>
        <translation>
            <numerusform>%n entry</numerusform>
            <numerusform>%n entries</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1 of %n archive(s)</source>
        <translation>
            <numerusform>%1 of %n archives</numerusform>
            <numerusform>%1 of %n archives</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source> %1 of %n archive(s) failed.</source>
        <translation>
            <numerusform> %1 of %n archives failed.</numerusform>
            <numerusform> %1 of %n archives failed.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1: %n entry(s) OK</source>
        <translation>
            <numerusform>%1: %n entry OK</numerusform>
            <numerusform>%1: %n entries OK</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1: %2 of %n entries failed</source>
        <translation>
            <numerusform>%1: %2 of %n entries failed</numerusform>
            <numerusform>%1: %2 of %n entries failed</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Listed %1 of %n archive(s).</source>
        <translation>
            <numerusform>Listed %1 of %n archive.</numerusform>
            <numerusform>Listed %1 of %n archives.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Deleted %1 from %n archive(s).</source>
        <translation>
            <numerusform>Deleted %1 from %n archive.</numerusform>
            <numerusform>Deleted %1 from %n archives.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>ZipPageController</name>
    <message numerus="yes">
        <source>%n archive(s)</source>
        <translation>
            <numerusform>%n archive</numerusform>
            <numerusform>%n archives</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n file(s)</source>
        <translation>
            <numerusform>%n file</numerusform>
            <numerusform>%n files</numerusform>
        </translation>
    </message>
</context>
</TS>
