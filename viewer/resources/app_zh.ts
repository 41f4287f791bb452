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
    <message>
        <source>Open Camera</source>
        <translation>打开相机</translation>
    </message>
    <message>
        <source>Camera Info</source>
        <translation>相机信息</translation>
    </message>
    <message>
        <source>IP Configuration</source>
        <translation>IP 配置</translation>
    </message>
    <message>
        <source>Open Recording</source>
        <translation>打开录制文件</translation>
    </message>
    <message>
        <source>Save as...</source>
        <translation>另存为...</translation>
    </message>
    <message>
        <source>Cut Recording</source>
        <translation>剪切录制文件</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>退出</translation>
    </message>
    <message>
        <source>About us</source>
        <translation>关于我们</translation>
    </message>
    <message>
        <source>Toggle Start/End Point</source>
        <translation>切换起止点</translation>
    </message>
    <message>
        <source>Select a raw file</source>
        <translation>选择 raw 文件</translation>
    </message>
    <message>
        <source>RAW files (*.raw)</source>
        <translation>RAW 文件 (*.raw)</translation>
    </message>
    <message>
        <source>Is it open in the browser?</source>
        <translation>是否在浏览器中打开？</translation>
    </message>
    <message>
        <source>Tips</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>打开</translation>
    </message>
    <message>
        <source>The language change will take effect after restart.</source>
        <translation>语言切换将在重启后生效。</translation>
    </message>
    <message>
        <source>Restart</source>
        <translation>重启</translation>
    </message>
    <message>
        <source>Later</source>
        <translation>稍后</translation>
    </message>
    <message>
        <source>Please open a raw file first.</source>
        <translation>请先打开 raw 文件。</translation>
    </message>
</context>
<context>
    <name>NRMessageBox</name>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
</context>
<context>
    <name>NrCutRawFile</name>
    <message>
        <source>NrCutRawFile</source>
        <translation>裁剪录制文件</translation>
    </message>
    <message>
        <source>Cut Recording</source>
        <translation>裁剪录制文件</translation>
    </message>
    <message>
        <source>Cut</source>
        <translation>裁剪</translation>
    </message>
</context>
<context>
    <name>NrExportVideoUI</name>
    <message>
        <source>NrExportVideoUI</source>
        <translation>导出视频</translation>
    </message>
    <message>
        <source>Export a video</source>
        <translation>导出视频</translation>
    </message>
    <message>
        <source>Export</source>
        <translation>导出</translation>
    </message>
</context>
<context>
    <name>NrFilePathReminderForm</name>
    <message>
        <source>Success</source>
        <translation>成功</translation>
    </message>
    <message>
        <source>Open Dir</source>
        <translation>打开目录</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>警告</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>错误</translation>
    </message>
</context>
<context>
    <name>NrGeneralSetting</name>
    <message>
        <source>General Settings</source>
        <translation>通用设置</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>File</source>
        <translation>文件</translation>
    </message>
    <message>
        <source>Style</source>
        <translation>样式</translation>
    </message>
    <message>
        <source>File Settings</source>
        <translation>文件设置</translation>
    </message>
    <message>
        <source>Default Out Raw File Path</source>
        <translation>默认录制文件路径</translation>
    </message>
    <message>
        <source>Select Directory</source>
        <translation>选择目录</translation>
    </message>
    <message>
        <source>Default Video File Path</source>
        <translation>默认视频文件路径</translation>
    </message>
    <message>
        <source>Trigger In File Save Settings</source>
        <translation>触发输入录制设置</translation>
    </message>
    <message>
        <source>Enable</source>
        <translation>启用</translation>
    </message>
    <message>
        <source>Trigger Edge</source>
        <translation>触发边沿</translation>
    </message>
    <message>
        <source>Before Trigger In Save Time (sec):</source>
        <translation>触发前保存时长（秒）：</translation>
    </message>
    <message>
        <source>Less</source>
        <translation>减少</translation>
    </message>
    <message>
        <source>More</source>
        <translation>增加</translation>
    </message>
    <message>
        <source>After Trigger In Save Time (sec):</source>
        <translation>触发后保存时长（秒）：</translation>
    </message>
    <message>
        <source>Theme</source>
        <translation>主题</translation>
    </message>
    <message>
        <source>Events Color</source>
        <translation>事件颜色</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>保存</translation>
    </message>
    <message>
        <source>Rising Edge</source>
        <translation>上升沿</translation>
    </message>
    <message>
        <source>Falling Edge</source>
        <translation>下降沿</translation>
    </message>
    <message>
        <source>Gray</source>
        <translation>灰色</translation>
    </message>
    <message>
        <source>Dark</source>
        <translation>深色</translation>
    </message>
    <message>
        <source>RedBlue</source>
        <translation>红蓝</translation>
    </message>
    <message>
        <source>RedGreen</source>
        <translation>红绿</translation>
    </message>
    <message>
        <source>Light</source>
        <translation>浅色</translation>
    </message>
    <message>
        <source>The folder "%1" does not exist. Create it?</source>
        <translation>文件夹“%1”不存在。是否创建？</translation>
    </message>
    <message>
        <source>Tips</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>Create</source>
        <translation>创建</translation>
    </message>
    <message>
        <source>Back</source>
        <translation>返回</translation>
    </message>
    <message>
        <source>Enter a folder.</source>
        <translation>请输入文件夹。</translation>
    </message>
    <message>
        <source>"%1" is a file, not a folder.</source>
        <translation>“%1”是文件，不是文件夹。</translation>
    </message>
    <message>
        <source>The folder "%1" does not exist.</source>
        <translation>文件夹“%1”不存在。</translation>
    </message>
    <message>
        <source>The folder "%1" cannot be created.</source>
        <translation>无法创建文件夹“%1”。</translation>
    </message>
    <message>
        <source>The folder "%1" cannot be written.</source>
        <translation>文件夹“%1”不可写入。</translation>
    </message>
</context>
<context>
    <name>NrTimeRangeDialog</name>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>Start Time</source>
        <translation>开始时间</translation>
    </message>
    <message>
        <source>One frame earlier</source>
        <translation>提前一帧</translation>
    </message>
    <message>
        <source>One frame later</source>
        <translation>推后一帧</translation>
    </message>
    <message>
        <source>End Time</source>
        <translation>结束时间</translation>
    </message>
    <message>
        <source>Save File Path</source>
        <translation>保存路径</translation>
    </message>
    <message>
        <source>Select Directory</source>
        <translation>选择目录</translation>
    </message>
    <message>
        <source>File Name</source>
        <translation>文件名</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
</context>
<context>
    <name>SettingDisplayItem</name>
    <message>
        <source>Accumulation time</source>
        <translation>累积时间</translation>
    </message>
    <message>
        <source>Slow Rate</source>
        <translation>慢放倍率</translation>
    </message>
</context>
<context>
    <name>SidebarCameraSettingUI</name>
    <message>
        <source>Camera Setting</source>
        <translation>相机设置</translation>
    </message>
    <message>
        <source>Display</source>
        <translation>显示</translation>
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
        <source>The recording is busy with an export or cut; try again when it has finished.</source>
        <translation>录制文件正在导出或剪切，请在完成后再试。</translation>
    </message>
    <message>
        <source>Failed to read the raw file!</source>
        <translation>读取原始文件失败！</translation>
    </message>
    <message>
        <source>Cannot open the recording: </source>
        <translation>无法打开录制文件：</translation>
    </message>
</context>
</TS>
