<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN" sourcelanguage="en_US">
<context>
    <name>InitDialog</name>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>Event camera viewer · Copyright © 2025 Norvale</source>
        <translation>事件相机查看器 · 版权所有 © 2025 Norvale</translation>
    </message>
    <message>
        <source>Version: </source>
        <translation>版本：</translation>
    </message>
</context>
<context>
    <name>MainWidget</name>
    <message>
        <source>File</source>
        <translation>文件</translation>
    </message>
    <message>
        <source>Device</source>
        <translation>设备</translation>
    </message>
    <message>
        <source>Setting</source>
        <translation>设置</translation>
    </message>
    <message>
        <source>Tools</source>
        <translation>工具</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>帮助</translation>
    </message>
    <message>
        <source>Minimize</source>
        <translation>最小化</translation>
    </message>
    <message>
        <source>Maximize</source>
        <translation>最大化</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>Viewer type</source>
        <translation>显示类型</translation>
    </message>
    <message>
        <source>Viewer setting</source>
        <translation>显示设置</translation>
    </message>
    <message>
        <source>Camera setting</source>
        <translation>相机设置</translation>
    </message>
    <message>
        <source>DVS setting</source>
        <translation>DVS 设置</translation>
    </message>
    <message>
        <source>APS setting</source>
        <translation>APS 设置</translation>
    </message>
    <message>
        <source>General Setting</source>
        <translation>通用设置</translation>
    </message>
    <message>
        <source>Play/Stop</source>
        <translation>播放/停止</translation>
    </message>
    <message>
        <source>Start/Stop recording</source>
        <translation>开始/停止录制</translation>
    </message>
    <message>
        <source>Previous frame</source>
        <translation>上一帧</translation>
    </message>
    <message>
        <source>Next frame</source>
        <translation>下一帧</translation>
    </message>
    <message>
        <source>Reset the playback progress to the beginning</source>
        <translation>将播放进度重置到开头</translation>
    </message>
    <message>
        <source>Select to automatically replay at the end of the playback</source>
        <translation>勾选后播放结束时自动重播</translation>
    </message>
    <message>
        <source>Version: </source>
        <translation>版本：</translation>
    </message>
    <message>
        <source>Restore</source>
        <translation>还原</translation>
    </message>
</context>
<context>
    <name>NrEventProcessor</name>
    <message>
        <source>Export video success!</source>
        <translation>导出视频成功！</translation>
    </message>
    <message>
        <source>Export raw file success!</source>
        <translation>导出原始文件成功！</translation>
    </message>
    <message>
        <source>Export video failed!</source>
        <translation>导出视频失败！</translation>
    </message>
    <message>
        <source>Export raw file failed!</source>
        <translation>导出原始文件失败！</translation>
    </message>
    <message>
        <source>Failed to read the raw file!</source>
        <translation>读取原始文件失败！</translation>
    </message>
</context>
</TS>
