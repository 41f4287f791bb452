<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN" sourcelanguage="en_US">
<context>
    <name>CameraConfigActions</name>
    <message>
        <source>Select a JSON file</source>
        <translation>选择 JSON 文件</translation>
    </message>
    <message>
        <source>Json file (*.json)</source>
        <translation>JSON 文件 (*.json)</translation>
    </message>
    <message>
        <source>Camera parameters loaded successfully.</source>
        <translation>相机参数加载成功。</translation>
    </message>
    <message>
        <source>Failed to load camera parameters.</source>
        <translation>相机参数加载失败。</translation>
    </message>
    <message>
        <source>Camera parameters exported successfully.</source>
        <translation>相机参数导出成功。</translation>
    </message>
    <message>
        <source>Failed to export camera parameters.</source>
        <translation>相机参数导出失败。</translation>
    </message>
    <message>
        <source>Camera parameters loaded failed.</source>
        <translation>默认相机参数加载失败。</translation>
    </message>
</context>
<context>
    <name>ConfigButtonBar</name>
    <message>
        <source>Default</source>
        <translation>默认</translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation>刷新</translation>
    </message>
    <message>
        <source>Load</source>
        <translation>加载</translation>
    </message>
    <message>
        <source>Export</source>
        <translation>导出</translation>
    </message>
</context>
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
        <source>The Velfox camera firmware needs to be upgraded!</source>
        <translation>Velfox 相机固件需要升级！</translation>
    </message>
    <message>
        <source>Please connect camera first.</source>
        <translation>请先连接相机。</translation>
    </message>
    <message>
        <source>There is a conflict between the camera ip and the local ip!</source>
        <translation>相机IP与本机IP冲突！</translation>
    </message>
    <message>
        <source>The camera ip is not in the same network segment as the local ip!</source>
        <translation>相机IP与本机IP不在同一网段！</translation>
    </message>
    <message>
        <source>Open camera: </source>
        <translation>打开相机：</translation>
    </message>
    <message>
        <source>failed.</source>
        <translation>失败。</translation>
    </message>
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
        <source>EN/中文</source>
        <translation>EN/中文</translation>
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
        <source>Select an event file</source>
        <translation>选择事件文件</translation>
    </message>
    <message>
        <source>All event files (%1)</source>
        <translation>所有事件文件 (%1)</translation>
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
    <message>
        <source>Open Network Stream...</source>
        <translation>打开网络流...</translation>
    </message>
    <message>
        <source>Open network stream: </source>
        <translation>打开网络流：</translation>
    </message>
    <message>
        <source> Is another program listening on that port?</source>
        <translation> 是否有其他程序在监听该端口？</translation>
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
    <name>SidebarApsSettingUI</name>
    <message>
        <source>APS Setting</source>
        <translation>APS 设置</translation>
    </message>
    <message>
        <source>APS Manual Calibration</source>
        <translation>APS 手动校准</translation>
    </message>
    <message>
        <source>Set aps offset x.</source>
        <translation>设置 APS 图像的 X 方向偏移。</translation>
    </message>
    <message>
        <source>Set aps offset y.</source>
        <translation>设置 APS 图像的 Y 方向偏移。</translation>
    </message>
    <message>
        <source>Apply</source>
        <translation>应用</translation>
    </message>
</context>
<context>
    <name>SidebarDvsSettingUI</name>
    <message>
        <source>DVS Setting</source>
        <translation>DVS 设置</translation>
    </message>
    <message>
        <source>Biases</source>
        <translation>偏置</translation>
    </message>
    <message>
        <source>Trigger In</source>
        <translation>触发输入</translation>
    </message>
    <message>
        <source>Anti Flicker</source>
        <translation>抗频闪</translation>
    </message>
    <message>
        <source>Event Rate Control</source>
        <translation>事件率控制</translation>
    </message>
    <message>
        <source>Event Trail Filter</source>
        <translation>事件拖尾滤波</translation>
    </message>
    <message>
        <source>ROI</source>
        <translation>感兴趣区域</translation>
    </message>
</context>
<context>
    <name>NrPlaybackFront</name>
    <message>
        <source>Export video cancelled.</source>
        <translation>导出视频已取消。</translation>
    </message>
    <message>
        <source>Export raw file cancelled.</source>
        <translation>导出原始文件已取消。</translation>
    </message>
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
        <source>Cannot open the recording: </source>
        <translation>无法打开录制文件：</translation>
    </message>
</context>
<context>
    <name>NrFusionCameraDataProcessor</name>
    <message>
        <source>The calibration is not used: its DVS size is %1 x %2, not 1280 x 720. The previous calibration stays in use.</source>
        <translation>未使用该标定：其 DVS 尺寸为 %1 x %2，而不是 1280 x 720。继续使用之前的标定。</translation>
    </message>
    <message>
        <source>The calibration is not used: it has no valid DVS to APS transform. The previous calibration stays in use.</source>
        <translation>未使用该标定：其中没有有效的 DVS 到 APS 变换。继续使用之前的标定。</translation>
    </message>
    <message>
        <source>Manual calibration parameters were written successfully!</source>
        <translation>手动标定参数写入成功！</translation>
    </message>
    <message>
        <source>Manual calibration parameters were written failed!</source>
        <translation>手动标定参数写入失败！</translation>
    </message>
    <message>
        <source>Cannot read the calibration file %1; the previous calibration stays in use.</source>
        <translation>无法读取标定文件 %1；继续使用之前的标定。</translation>
    </message>
</context>
<context>
    <name>NrFileRecorder</name>
    <message>
        <source>The pre-trigger cache could not be set up in </source>
        <translation>无法在此处设置触发前缓存：</translation>
    </message>
    <message>
        <source>Currently being recorded.</source>
        <translation>正在录制中。</translation>
    </message>
    <message>
        <source>No camera is connected.</source>
        <translation>没有已连接的相机。</translation>
    </message>
    <message>
        <source>The recording duration must be at least one second.</source>
        <translation>录制时长至少为一秒。</translation>
    </message>
    <message>
        <source>Recording file ... </source>
        <translation>正在录制文件... </translation>
    </message>
    <message>
        <source>Recording failed: the camera cannot write </source>
        <translation>录制失败：相机无法写入 </translation>
    </message>
    <message>
        <source>Recording end</source>
        <translation>录制结束</translation>
    </message>
</context>
<context>
    <name>CamerasList</name>
    <message>
        <source>Open a camera</source>
        <translation>打开相机</translation>
    </message>
    <message>
        <source>Camera List</source>
        <translation>相机列表</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>No camera found. Check that it is connected and powered.</source>
        <translation>未找到相机。请检查相机是否已连接并通电。</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>打开</translation>
    </message>
</context>
<context>
    <name>NrEthCameraConfigTool</name>
    <message>
        <source>Eth Camera Config</source>
        <translation>网口相机配置</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>Camera List</source>
        <translation>相机列表</translation>
    </message>
    <message>
        <source>Serial :</source>
        <translation>序列号：</translation>
    </message>
    <message>
        <source>Product: </source>
        <translation>产品：</translation>
    </message>
    <message>
        <source>Manufacturer:</source>
        <translation>制造商：</translation>
    </message>
    <message>
        <source>Firmware version :</source>
        <translation>固件版本：</translation>
    </message>
    <message>
        <source>IP:</source>
        <translation>IP 地址：</translation>
    </message>
    <message>
        <source>Subnet Mask:</source>
        <translation>子网掩码：</translation>
    </message>
    <message>
        <source>Gateway:</source>
        <translation>网关：</translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation>刷新</translation>
    </message>
    <message>
        <source>Config</source>
        <translation>配置</translation>
    </message>
    <message>
        <source>Refresh completed!</source>
        <translation>刷新完成！</translation>
    </message>
    <message>
        <source>Please select a camera first.</source>
        <translation>请先选择一个相机。</translation>
    </message>
    <message>
        <source>Invalid IP address, subnet mask or gateway.</source>
        <translation>IP 地址、子网掩码或网关无效。</translation>
    </message>
    <message>
        <source>Configuration successful!</source>
        <translation>配置成功！</translation>
    </message>
    <message>
        <source>Configuration failed!</source>
        <translation>配置失败！</translation>
    </message>
</context>
<context>
    <name>ShowCameraInfoUI</name>
    <message>
        <source>Camera Info</source>
        <translation>相机信息</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>Serial :</source>
        <translation>序列号：</translation>
    </message>
    <message>
        <source>Product: </source>
        <translation>产品：</translation>
    </message>
    <message>
        <source>Manufacturer:</source>
        <translation>制造商：</translation>
    </message>
    <message>
        <source>Firmware version :</source>
        <translation>固件版本：</translation>
    </message>
</context>
<context>
    <name>WaitingWin</name>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Cancelling...</source>
        <translation>正在取消…</translation>
    </message>
</context>
<context>
    <name>NrDvsCameraSource</name>
    <message>
        <source>The pre-trigger cache could not be set up in </source>
        <translation>无法在此处设置触发前缓存：</translation>
    </message>
</context>
<context>
    <name>NrCameraSource</name>
    <message>
        <source>The pre-trigger cache could not be set up in </source>
        <translation>无法在此处设置触发前缓存：</translation>
    </message>
    <message>
        <source> Bandwidth: </source>
        <translation> 带宽：</translation>
    </message>
    <message>
        <source> Events: </source>
        <translation> 事件：</translation>
    </message>
    <message>
        <source> Dropped: </source>
        <translation> 丢弃：</translation>
    </message>
    <message>
        <source>Camera connection lost.</source>
        <translation>相机连接已断开。</translation>
    </message>
    <message>
        <source>Save file success!</source>
        <translation>保存文件成功！</translation>
    </message>
    <message>
        <source>Save file failed!</source>
        <translation>保存文件失败！</translation>
    </message>
    <message>
        <source>Cannot start recording: </source>
        <translation>无法开始录制：</translation>
    </message>
    <message>
        <source> Lost datagrams: </source>
        <translation> 丢失数据报：</translation>
    </message>
</context>
<context>
    <name>NrNetworkStreamDialog</name>
    <message>
        <source>Open Network Stream</source>
        <translation>打开网络流</translation>
    </message>
    <message>
        <source>Address</source>
        <translation>地址</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>端口</translation>
    </message>
    <message>
        <source>Width</source>
        <translation>宽度</translation>
    </message>
    <message>
        <source>Height</source>
        <translation>高度</translation>
    </message>
    <message>
        <source>Format</source>
        <translation>格式</translation>
    </message>
    <message>
        <source>t64_x16_y16_on8 (13 bytes an event)</source>
        <translation>t64_x16_y16_on8（每个事件 13 字节）</translation>
    </message>
    <message>
        <source>t32_x16_y15_on1 (8 bytes an event)</source>
        <translation>t32_x16_y15_on1（每个事件 8 字节）</translation>
    </message>
    <message>
        <source>Only this machine's own streams unless you name another interface's address.</source>
        <translation>除非填写其他网卡的地址，否则只接收本机发出的流。</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>打开</translation>
    </message>
</context>
</TS>
