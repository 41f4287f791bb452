<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US" sourcelanguage="en_US">
<context>
    <name>CameraConfigActions</name>
    <message>
        <source>Select a JSON file</source>
        <translation>Select a JSON file</translation>
    </message>
    <message>
        <source>Json file (*.json)</source>
        <translation>Json file (*.json)</translation>
    </message>
    <message>
        <source>Camera parameters loaded successfully.</source>
        <translation>Camera parameters loaded successfully.</translation>
    </message>
    <message>
        <source>Failed to load camera parameters.</source>
        <translation>Failed to load camera parameters.</translation>
    </message>
    <message>
        <source>Camera parameters exported successfully.</source>
        <translation>Camera parameters exported successfully.</translation>
    </message>
    <message>
        <source>Failed to export camera parameters.</source>
        <translation>Failed to export camera parameters.</translation>
    </message>
    <message>
        <source>Camera parameters loaded failed.</source>
        <translation>Camera parameters loaded failed.</translation>
    </message>
</context>
<context>
    <name>ConfigButtonBar</name>
    <message>
        <source>Default</source>
        <translation>Default</translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation>Refresh</translation>
    </message>
    <message>
        <source>Load</source>
        <translation>Load</translation>
    </message>
    <message>
        <source>Export</source>
        <translation>Export</translation>
    </message>
</context>
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
        <source>The Velfox camera firmware needs to be upgraded!</source>
        <translation>The Velfox camera firmware needs to be upgraded!</translation>
    </message>
    <message>
        <source>Please connect camera first.</source>
        <translation>Please connect camera first.</translation>
    </message>
    <message>
        <source>There is a conflict between the camera ip and the local ip!</source>
        <translation>There is a conflict between the camera ip and the local ip!</translation>
    </message>
    <message>
        <source>The camera ip is not in the same network segment as the local ip!</source>
        <translation>The camera ip is not in the same network segment as the local ip!</translation>
    </message>
    <message>
        <source>Open camera: </source>
        <translation>Open camera: </translation>
    </message>
    <message>
        <source>failed.</source>
        <translation>failed.</translation>
    </message>
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
    <message>
        <source>Open Camera</source>
        <translation>Open Camera</translation>
    </message>
    <message>
        <source>Camera Info</source>
        <translation>Camera Info</translation>
    </message>
    <message>
        <source>IP Configuration</source>
        <translation>IP Configuration</translation>
    </message>
    <message>
        <source>Open Recording</source>
        <translation>Open Recording</translation>
    </message>
    <message>
        <source>Save as...</source>
        <translation>Save as...</translation>
    </message>
    <message>
        <source>Cut Recording</source>
        <translation>Cut Recording</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>EN/中文</source>
        <translation>EN/中文</translation>
    </message>
    <message>
        <source>About us</source>
        <translation>About us</translation>
    </message>
    <message>
        <source>Toggle Start/End Point</source>
        <translation>Toggle Start/End Point</translation>
    </message>
    <message>
        <source>Select an event file</source>
        <translation>Select an event file</translation>
    </message>
    <message>
        <source>All event files (%1)</source>
        <translation>All event files (%1)</translation>
    </message>
    <message>
        <source>Is it open in the browser?</source>
        <translation>Is it open in the browser?</translation>
    </message>
    <message>
        <source>Tips</source>
        <translation>Tips</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>The language change will take effect after restart.</source>
        <translation>The language change will take effect after restart.</translation>
    </message>
    <message>
        <source>Restart</source>
        <translation>Restart</translation>
    </message>
    <message>
        <source>Later</source>
        <translation>Later</translation>
    </message>
    <message>
        <source>Please open a raw file first.</source>
        <translation>Please open a raw file first.</translation>
    </message>
    <message>
        <source>Open Network Stream...</source>
        <translation>Open Network Stream...</translation>
    </message>
    <message>
        <source>Open network stream: </source>
        <translation>Open network stream: </translation>
    </message>
    <message>
        <source> Is another program listening on that port?</source>
        <translation> Is another program listening on that port?</translation>
    </message>
</context>
<context>
    <name>NRMessageBox</name>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>NrCutRawFile</name>
    <message>
        <source>NrCutRawFile</source>
        <translation>Cut Recording</translation>
    </message>
    <message>
        <source>Cut Recording</source>
        <translation>Cut Recording</translation>
    </message>
    <message>
        <source>Cut</source>
        <translation>Cut</translation>
    </message>
</context>
<context>
    <name>NrExportVideoUI</name>
    <message>
        <source>NrExportVideoUI</source>
        <translation>Export Video</translation>
    </message>
    <message>
        <source>Export a video</source>
        <translation>Export a video</translation>
    </message>
    <message>
        <source>Export</source>
        <translation>Export</translation>
    </message>
</context>
<context>
    <name>NrFilePathReminderForm</name>
    <message>
        <source>Success</source>
        <translation>Success</translation>
    </message>
    <message>
        <source>Open Dir</source>
        <translation>Open Dir</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Warning</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Error</translation>
    </message>
</context>
<context>
    <name>NrGeneralSetting</name>
    <message>
        <source>General Settings</source>
        <translation>General Settings</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>File</source>
        <translation>File</translation>
    </message>
    <message>
        <source>Style</source>
        <translation>Style</translation>
    </message>
    <message>
        <source>File Settings</source>
        <translation>File Settings</translation>
    </message>
    <message>
        <source>Default Out Raw File Path</source>
        <translation>Default Out Raw File Path</translation>
    </message>
    <message>
        <source>Select Directory</source>
        <translation>Select Directory</translation>
    </message>
    <message>
        <source>Default Video File Path</source>
        <translation>Default Video File Path</translation>
    </message>
    <message>
        <source>Trigger In File Save Settings</source>
        <translation>Trigger In File Save Settings</translation>
    </message>
    <message>
        <source>Enable</source>
        <translation>Enable</translation>
    </message>
    <message>
        <source>Trigger Edge</source>
        <translation>Trigger Edge</translation>
    </message>
    <message>
        <source>Before Trigger In Save Time (sec):</source>
        <translation>Before Trigger In Save Time (sec):</translation>
    </message>
    <message>
        <source>Less</source>
        <translation>Less</translation>
    </message>
    <message>
        <source>More</source>
        <translation>More</translation>
    </message>
    <message>
        <source>After Trigger In Save Time (sec):</source>
        <translation>After Trigger In Save Time (sec):</translation>
    </message>
    <message>
        <source>Theme</source>
        <translation>Theme</translation>
    </message>
    <message>
        <source>Events Color</source>
        <translation>Events Color</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>Rising Edge</source>
        <translation>Rising Edge</translation>
    </message>
    <message>
        <source>Falling Edge</source>
        <translation>Falling Edge</translation>
    </message>
    <message>
        <source>Gray</source>
        <translation>Gray</translation>
    </message>
    <message>
        <source>Dark</source>
        <translation>Dark</translation>
    </message>
    <message>
        <source>RedBlue</source>
        <translation>RedBlue</translation>
    </message>
    <message>
        <source>RedGreen</source>
        <translation>RedGreen</translation>
    </message>
    <message>
        <source>Light</source>
        <translation>Light</translation>
    </message>
    <message>
        <source>The folder "%1" does not exist. Create it?</source>
        <translation>The folder "%1" does not exist. Create it?</translation>
    </message>
    <message>
        <source>Tips</source>
        <translation>Tips</translation>
    </message>
    <message>
        <source>Create</source>
        <translation>Create</translation>
    </message>
    <message>
        <source>Back</source>
        <translation>Back</translation>
    </message>
    <message>
        <source>Enter a folder.</source>
        <translation>Enter a folder.</translation>
    </message>
    <message>
        <source>"%1" is a file, not a folder.</source>
        <translation>"%1" is a file, not a folder.</translation>
    </message>
    <message>
        <source>The folder "%1" does not exist.</source>
        <translation>The folder "%1" does not exist.</translation>
    </message>
    <message>
        <source>The folder "%1" cannot be created.</source>
        <translation>The folder "%1" cannot be created.</translation>
    </message>
    <message>
        <source>The folder "%1" cannot be written.</source>
        <translation>The folder "%1" cannot be written.</translation>
    </message>
</context>
<context>
    <name>NrTimeRangeDialog</name>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Start Time</source>
        <translation>Start Time</translation>
    </message>
    <message>
        <source>One frame earlier</source>
        <translation>One frame earlier</translation>
    </message>
    <message>
        <source>One frame later</source>
        <translation>One frame later</translation>
    </message>
    <message>
        <source>End Time</source>
        <translation>End Time</translation>
    </message>
    <message>
        <source>Save File Path</source>
        <translation>Save File Path</translation>
    </message>
    <message>
        <source>Select Directory</source>
        <translation>Select Directory</translation>
    </message>
    <message>
        <source>File Name</source>
        <translation>File Name</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>SettingDisplayItem</name>
    <message>
        <source>Accumulation time</source>
        <translation>Accumulation time</translation>
    </message>
    <message>
        <source>Slow Rate</source>
        <translation>Slow Rate</translation>
    </message>
</context>
<context>
    <name>SidebarCameraSettingUI</name>
    <message>
        <source>Camera Setting</source>
        <translation>Camera Setting</translation>
    </message>
    <message>
        <source>Display</source>
        <translation>Display</translation>
    </message>
</context>
<context>
    <name>SidebarApsSettingUI</name>
    <message>
        <source>APS Setting</source>
        <translation>APS Setting</translation>
    </message>
    <message>
        <source>APS Manual Calibration</source>
        <translation>APS Manual Calibration</translation>
    </message>
    <message>
        <source>Set aps offset x.</source>
        <translation>Set aps offset x.</translation>
    </message>
    <message>
        <source>Set aps offset y.</source>
        <translation>Set aps offset y.</translation>
    </message>
    <message>
        <source>Apply</source>
        <translation>Apply</translation>
    </message>
</context>
<context>
    <name>SidebarDvsSettingUI</name>
    <message>
        <source>DVS Setting</source>
        <translation>DVS Setting</translation>
    </message>
    <message>
        <source>Biases</source>
        <translation>Biases</translation>
    </message>
    <message>
        <source>Trigger In</source>
        <translation>Trigger In</translation>
    </message>
    <message>
        <source>Anti Flicker</source>
        <translation>Anti Flicker</translation>
    </message>
    <message>
        <source>Event Rate Control</source>
        <translation>Event Rate Control</translation>
    </message>
    <message>
        <source>Event Trail Filter</source>
        <translation>Event Trail Filter</translation>
    </message>
    <message>
        <source>ROI</source>
        <translation>ROI</translation>
    </message>
</context>
<context>
    <name>NrPlaybackFront</name>
    <message>
        <source>Export video cancelled.</source>
        <translation>Export video cancelled.</translation>
    </message>
    <message>
        <source>Export raw file cancelled.</source>
        <translation>Export raw file cancelled.</translation>
    </message>
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
        <source>The recording is busy with an export or cut; try again when it has finished.</source>
        <translation>The recording is busy with an export or cut; try again when it has finished.</translation>
    </message>
    <message>
        <source>Cannot open the recording: </source>
        <translation>Cannot open the recording: </translation>
    </message>
</context>
<context>
    <name>NrFusionCameraDataProcessor</name>
    <message>
        <source>The calibration is not used: its DVS size is %1 x %2, not 1280 x 720. The previous calibration stays in use.</source>
        <translation>The calibration is not used: its DVS size is %1 x %2, not 1280 x 720. The previous calibration stays in use.</translation>
    </message>
    <message>
        <source>The calibration is not used: it has no valid DVS to APS transform. The previous calibration stays in use.</source>
        <translation>The calibration is not used: it has no valid DVS to APS transform. The previous calibration stays in use.</translation>
    </message>
    <message>
        <source>Manual calibration parameters were written successfully!</source>
        <translation>Manual calibration parameters were written successfully!</translation>
    </message>
    <message>
        <source>Manual calibration parameters were written failed!</source>
        <translation>Manual calibration parameters were written failed!</translation>
    </message>
    <message>
        <source>Cannot read the calibration file %1; the previous calibration stays in use.</source>
        <translation>Cannot read the calibration file %1; the previous calibration stays in use.</translation>
    </message>
</context>
<context>
    <name>NrFileRecorder</name>
    <message>
        <source>The pre-trigger cache could not be set up in </source>
        <translation>The pre-trigger cache could not be set up in </translation>
    </message>
    <message>
        <source>Currently being recorded.</source>
        <translation>Currently being recorded.</translation>
    </message>
    <message>
        <source>No camera is connected.</source>
        <translation>No camera is connected.</translation>
    </message>
    <message>
        <source>The recording duration must be at least one second.</source>
        <translation>The recording duration must be at least one second.</translation>
    </message>
    <message>
        <source>Recording file ... </source>
        <translation>Recording file ... </translation>
    </message>
    <message>
        <source>Recording failed: the camera cannot write </source>
        <translation>Recording failed: the camera cannot write </translation>
    </message>
    <message>
        <source>Recording end</source>
        <translation>Recording end</translation>
    </message>
</context>
<context>
    <name>CamerasList</name>
    <message>
        <source>Open a camera</source>
        <translation>Open a camera</translation>
    </message>
    <message>
        <source>Camera List</source>
        <translation>Camera List</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>No camera found. Check that it is connected and powered.</source>
        <translation>No camera found. Check that it is connected and powered.</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Open</translation>
    </message>
</context>
<context>
    <name>NrEthCameraConfigTool</name>
    <message>
        <source>Eth Camera Config</source>
        <translation>Eth Camera Config</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Camera List</source>
        <translation>Camera List</translation>
    </message>
    <message>
        <source>Serial :</source>
        <translation>Serial :</translation>
    </message>
    <message>
        <source>Product: </source>
        <translation>Product: </translation>
    </message>
    <message>
        <source>Manufacturer:</source>
        <translation>Manufacturer:</translation>
    </message>
    <message>
        <source>Firmware version :</source>
        <translation>Firmware version :</translation>
    </message>
    <message>
        <source>IP:</source>
        <translation>IP:</translation>
    </message>
    <message>
        <source>Subnet Mask:</source>
        <translation>Subnet Mask:</translation>
    </message>
    <message>
        <source>Gateway:</source>
        <translation>Gateway:</translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation>Refresh</translation>
    </message>
    <message>
        <source>Config</source>
        <translation>Config</translation>
    </message>
    <message>
        <source>Refresh completed!</source>
        <translation>Refresh completed!</translation>
    </message>
    <message>
        <source>Please select a camera first.</source>
        <translation>Please select a camera first.</translation>
    </message>
    <message>
        <source>Invalid IP address, subnet mask or gateway.</source>
        <translation>Invalid IP address, subnet mask or gateway.</translation>
    </message>
    <message>
        <source>Configuration successful!</source>
        <translation>Configuration successful!</translation>
    </message>
    <message>
        <source>Configuration failed!</source>
        <translation>Configuration failed!</translation>
    </message>
</context>
<context>
    <name>ShowCameraInfoUI</name>
    <message>
        <source>Camera Info</source>
        <translation>Camera Info</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Serial :</source>
        <translation>Serial :</translation>
    </message>
    <message>
        <source>Product: </source>
        <translation>Product: </translation>
    </message>
    <message>
        <source>Manufacturer:</source>
        <translation>Manufacturer:</translation>
    </message>
    <message>
        <source>Firmware version :</source>
        <translation>Firmware version :</translation>
    </message>
</context>
<context>
    <name>WaitingWin</name>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Cancelling...</source>
        <translation>Cancelling...</translation>
    </message>
</context>
<context>
    <name>NrDvsCameraSource</name>
    <message>
        <source>The pre-trigger cache could not be set up in </source>
        <translation>The pre-trigger cache could not be set up in </translation>
    </message>
</context>
<context>
    <name>NrCameraSource</name>
    <message>
        <source>The pre-trigger cache could not be set up in </source>
        <translation>The pre-trigger cache could not be set up in </translation>
    </message>
    <message>
        <source> Bandwidth: </source>
        <translation> Bandwidth: </translation>
    </message>
    <message>
        <source> Events: </source>
        <translation> Events: </translation>
    </message>
    <message>
        <source> Dropped: </source>
        <translation> Dropped: </translation>
    </message>
    <message>
        <source>Camera connection lost.</source>
        <translation>Camera connection lost.</translation>
    </message>
    <message>
        <source>Save file success!</source>
        <translation>Save file success!</translation>
    </message>
    <message>
        <source>Save file failed!</source>
        <translation>Save file failed!</translation>
    </message>
    <message>
        <source>Cannot start recording: </source>
        <translation>Cannot start recording: </translation>
    </message>
    <message>
        <source> Lost datagrams: </source>
        <translation> Lost datagrams: </translation>
    </message>
</context>
<context>
    <name>NrNetworkStreamDialog</name>
    <message>
        <source>Open Network Stream</source>
        <translation>Open Network Stream</translation>
    </message>
    <message>
        <source>Address</source>
        <translation>Address</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>Width</source>
        <translation>Width</translation>
    </message>
    <message>
        <source>Height</source>
        <translation>Height</translation>
    </message>
    <message>
        <source>Format</source>
        <translation>Format</translation>
    </message>
    <message>
        <source>t64_x16_y16_on8 (13 bytes an event)</source>
        <translation>t64_x16_y16_on8 (13 bytes an event)</translation>
    </message>
    <message>
        <source>t32_x16_y15_on1 (8 bytes an event)</source>
        <translation>t32_x16_y15_on1 (8 bytes an event)</translation>
    </message>
    <message>
        <source>Only this machine's own streams unless you name another interface's address.</source>
        <translation>Only this machine's own streams unless you name another interface's address.</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Open</translation>
    </message>
</context>
</TS>
