<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="en_US">
<context>
    <name>InitDialog</name>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Event camera viewer · Copyright © 2025 Norvale</source>
        <translation>Event camera viewer · Copyright © 2025 Norvale</translation>
    </message>
    <message>
        <source>Version: </source>
        <translation>Version: </translation>
    </message>
</context>
<context>
    <name>MainWidget</name>
    <message>
        <source>File</source>
        <translation>File</translation>
    </message>
    <message>
        <source>Device</source>
        <translation>Device</translation>
    </message>
    <message>
        <source>Setting</source>
        <translation>Setting</translation>
    </message>
    <message>
        <source>Tools</source>
        <translation>Tools</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>Minimize</source>
        <translation>Minimize</translation>
    </message>
    <message>
        <source>Maximize</source>
        <translation>Maximize</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Viewer type</source>
        <translation>Viewer type</translation>
    </message>
    <message>
        <source>Viewer setting</source>
        <translation>Viewer setting</translation>
    </message>
    <message>
        <source>Camera setting</source>
        <translation>Camera setting</translation>
    </message>
    <message>
        <source>DVS setting</source>
        <translation>DVS setting</translation>
    </message>
    <message>
        <source>APS setting</source>
        <translation>APS setting</translation>
    </message>
    <message>
        <source>General Setting</source>
        <translation>General Setting</translation>
    </message>
    <message>
        <source>Play/Stop</source>
        <translation>Play/Stop</translation>
    </message>
    <message>
        <source>Start/Stop recording</source>
        <translation>Start/Stop recording</translation>
    </message>
    <message>
        <source>Previous frame</source>
        <translation>Previous frame</translation>
    </message>
    <message>
        <source>Next frame</source>
        <translation>Next frame</translation>
    </message>
    <message>
        <source>Reset the playback progress to the beginning</source>
        <translation>Reset the playback progress to the beginning</translation>
    </message>
    <message>
        <source>Select to automatically replay at the end of the playback</source>
        <translation>Select to automatically replay at the end of the playback</translation>
    </message>
    <message>
        <source>Version: </source>
        <translation>Version: </translation>
    </message>
    <message>
        <source>Restore</source>
        <translation>Restore</translation>
    </message>
</context>
<context>
    <name>NrEventProcessor</name>
    <message>
        <source>Export video success!</source>
        <translation>Export video success!</translation>
    </message>
    <message>
        <source>Export raw file success!</source>
        <translation>Export raw file success!</translation>
    </message>
    <message>
        <source>Export video failed!</source>
        <translation>Export video failed!</translation>
    </message>
    <message>
        <source>Export raw file failed!</source>
        <translation>Export raw file failed!</translation>
    </message>
    <message>
        <source>Failed to read the raw file!</source>
        <translation>Failed to read the raw file!</translation>
    </message>
</context>
</TS>
