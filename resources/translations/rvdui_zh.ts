<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>CAboutDlg</name>
    <message>
        <source>About Ravendo</source>
        <translation>关于 Ravendo</translation>
    </message>
    <message>
        <source>Ravendo %1</source>
        <translation>Ravendo %1</translation>
    </message>
    <message>
        <source>For the lastest product information,please visit:</source>
        <translation>获取最新的产品信息，请访问：</translation>
    </message>
    <message>
        <source>Ravendo only reads the disk it recovers from; it never writes to it.</source>
        <translation>Ravendo 只读取要恢复的磁盘，从不向其写入。</translation>
    </message>
</context>
<context>
    <name>CEnumDiskPage</name>
    <message>
        <source>WizardPage</source>
        <translation>向导页</translation>
    </message>
    <message>
        <source>Select a disk/partition and click &quot;Next&quot; to recover deleted files.</source>
        <translation>选择一个磁盘/分区，然后单击“下一步”恢复已删除的文件。</translation>
    </message>
    <message>
        <source>Disk</source>
        <translation>磁盘</translation>
    </message>
    <message>
        <source>Partition</source>
        <translation>分区</translation>
    </message>
    <message>
        <source>File system</source>
        <translation>文件系统</translation>
    </message>
    <message>
        <source>Capacity</source>
        <translation>容量</translation>
    </message>
    <message>
        <source>Used space</source>
        <translation>已用空间</translation>
    </message>
    <message>
        <source>Free space</source>
        <translation>可用空间</translation>
    </message>
    <message>
        <source>Type</source>
        <translation>类型</translation>
    </message>
    <message>
        <source>Enable raw search. (You can set the raw file search size in the option)</source>
        <translation>启用 RAW 搜索。(可在选项中设置 RAW 文件的搜索大小)</translation>
    </message>
    <message>
        <source>Search lost files by types.</source>
        <translation>按类型搜索丢失的文件。</translation>
    </message>
    <message>
        <source>Active</source>
        <translation>活动</translation>
    </message>
    <message>
        <source>None</source>
        <translation>无</translation>
    </message>
    <message>
        <source>Primary</source>
        <translation>主分区</translation>
    </message>
    <message>
        <source>Logical</source>
        <translation>逻辑分区</translation>
    </message>
    <message>
        <source>Dynamic Disk(%1)</source>
        <translation>动态磁盘(%1)</translation>
    </message>
    <message>
        <source>Disk%1(%2)</source>
        <translation>磁盘%1(%2)</translation>
    </message>
</context>
<context>
    <name>COptionDlg</name>
    <message>
        <source>Option</source>
        <translation>选项</translation>
    </message>
    <message>
        <source>Maximal search size:</source>
        <translation>最大搜索大小：</translation>
    </message>
    <message>
        <source>Bytes</source>
        <translation>字节</translation>
    </message>
    <message>
        <source>RAW</source>
        <translation>RAW</translation>
    </message>
    <message>
        <source>Maximal partition limit:</source>
        <translation>最大分区数：</translation>
    </message>
    <message>
        <source>Partition recovery</source>
        <translation>分区恢复</translation>
    </message>
    <message>
        <source>Ignore bad sector</source>
        <translation>忽略坏扇区</translation>
    </message>
    <message>
        <source>Bad Sector</source>
        <translation>坏扇区</translation>
    </message>
    <message>
        <source>Default save path</source>
        <translation>默认保存路径</translation>
    </message>
    <message>
        <source>If we do not find partitions, whether use 
full scan or not.</source>
        <translation>未找到分区时，是否
进行全盘扫描。</translation>
    </message>
    <message>
        <source>Disk scan</source>
        <translation>磁盘扫描</translation>
    </message>
</context>
<context>
    <name>CPartitionTypePage</name>
    <message>
        <source>WizardPage</source>
        <translation>向导页</translation>
    </message>
    <message>
        <source>This function works well for formatted recovery. The radiobutton will allow you to select 
the previous file system type for your partition.</source>
        <translation>此功能适用于格式化恢复。您可以通过单选按钮
选择分区原来的文件系统类型。</translation>
    </message>
    <message>
        <source>Recommand (Auto select the previous file system.)  </source>
        <translation>推荐 (自动选择原来的文件系统。)  </translation>
    </message>
    <message>
        <source>NTFS (NTFS will be scanned only.)</source>
        <translation>NTFS (只扫描 NTFS。)</translation>
    </message>
    <message>
        <source>FAT (FAT12/16/32 will be scanned only.)</source>
        <translation>FAT (只扫描 FAT12/16/32。)</translation>
    </message>
    <message>
        <source>EXT (EXT2/EXT3 will be scanned only.)</source>
        <translation>EXT (只扫描 EXT2/EXT3。)</translation>
    </message>
    <message>
        <source>Full (All file system will be scanned, but it may take more time.)</source>
        <translation>全部 (扫描所有文件系统，但可能需要更多时间。)</translation>
    </message>
    <message>
        <source>Current partiton search number is 4, and you can set in the option.</source>
        <translation>当前分区搜索数为 4，可在选项中设置。</translation>
    </message>
    <message>
        <source>Number of the current maximal partition is %1, and you can change number in the option.</source>
        <translation>当前最大分区数为 %1，可在选项中更改。</translation>
    </message>
</context>
<context>
    <name>CScanOutcomePage</name>
    <message>
        <source>Copying the recovered files out is not part of this build yet.</source>
        <translation>此版本尚不能复制恢复的文件。</translation>
    </message>
    <message>
        <source>The results of the last scan are kept by the result store.</source>
        <translation>上次扫描的结果已保存。</translation>
    </message>
    <message>
        <source>Scan finished. Files found: %1</source>
        <translation>扫描完成。找到的文件：%1</translation>
    </message>
</context>
<context>
    <name>CSearchFileProgressDlg</name>
    <message>
        <source>Searching</source>
        <translation>正在搜索</translation>
    </message>
    <message>
        <source>Reading partition parameters...</source>
        <translation>正在读取分区参数...</translation>
    </message>
    <message>
        <source>Phase 1 of 2</source>
        <translation>第 1 阶段，共 2 阶段</translation>
    </message>
    <message>
        <source>Files found:</source>
        <translation>找到的文件：</translation>
    </message>
    <message>
        <source>Elapsed Time:</source>
        <translation>已用时间：</translation>
    </message>
    <message>
        <source>Remaining Time:</source>
        <translation>剩余时间：</translation>
    </message>
    <message>
        <source>Calculating...</source>
        <translation>正在计算...</translation>
    </message>
    <message>
        <source>Files found: %1</source>
        <translation>找到的文件：%1</translation>
    </message>
</context>
<context>
    <name>CSearchTypsPage</name>
    <message>
        <source>WizardPage</source>
        <translation>向导页</translation>
    </message>
    <message>
        <source>Set search file types.</source>
        <translation>设置搜索的文件类型。</translation>
    </message>
    <message>
        <source>File type</source>
        <translation>文件类型</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Ravendo</source>
        <translation>Ravendo</translation>
    </message>
    <message>
        <source>Invalid parameter!</source>
        <translation>参数无效！</translation>
    </message>
    <message>
        <source>Unknown error!</source>
        <translation>未知错误！</translation>
    </message>
    <message>
        <source>Ravendo has encountered a memory problem and needs to close.
We are sorry for the inconvenience.
You can enlarge your virtual memory and try again.</source>
        <translation>Ravendo 遇到内存问题，需要关闭。
对此带来的不便我们深表歉意。
您可以增大虚拟内存后重试。</translation>
    </message>
    <message>
        <source>Failed to allocate the memory. Please untick Enable RAW file and try again. </source>
        <translation>内存分配失败。请取消勾选“启用 RAW 文件”后重试。 </translation>
    </message>
    <message>
        <source>Please waiting...</source>
        <translation>请稍候...</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Welcome to use Ravendo, it helps you to recover data due to deletion, format, partition loss, 
soft crash,virus attach, etc</source>
        <translation>欢迎使用 Ravendo，它可以帮助您恢复因删除、格式化、分区丢失、
软件崩溃、病毒攻击等原因丢失的数据</translation>
    </message>
    <message>
        <source>Files loss such as files deleted by Shift + Delete or emptied from Recycle Bin.</source>
        <translation>恢复被 Shift + Delete 删除或从回收站清空的文件。</translation>
    </message>
    <message>
        <source>Recover files due to accidentally formatted partition, disk displayed as RAW or Windows asks 
Do you want to format this drive?</source>
        <translation>恢复被意外格式化的分区、显示为 RAW 的磁盘
或提示“是否要格式化此驱动器”的磁盘中的文件。</translation>
    </message>
    <message>
        <source>Continue to recovery the last time scan results.</source>
        <translation>继续恢复上次扫描的结果。</translation>
    </message>
    <message>
        <source>Media Player</source>
        <translation>媒体播放器</translation>
    </message>
    <message>
        <source>No media</source>
        <translation>无媒体</translation>
    </message>
    <message>
        <source>Open Location</source>
        <translation>打开位置</translation>
    </message>
    <message>
        <source>Please enter a valid address here:</source>
        <translation>请在此输入有效地址：</translation>
    </message>
    <message>
        <source>Scale and crop</source>
        <translation>缩放并裁剪</translation>
    </message>
    <message>
        <source>Scale</source>
        <translation>缩放</translation>
    </message>
    <message>
        <source>Add group:</source>
        <translation>添加组：</translation>
    </message>
    <message>
        <source>Select icon:</source>
        <translation>选择图标：</translation>
    </message>
    <message>
        <source>Select icon</source>
        <translation>选择图标</translation>
    </message>
    <message>
        <source>Image Files (*.png *.jpg *.bmp *.ico)</source>
        <translation>图像文件 (*.png *.jpg *.bmp *.ico)</translation>
    </message>
    <message>
        <source>Please input group type!</source>
        <translation>请输入组类型！</translation>
    </message>
    <message>
        <source>Group Name:</source>
        <translation>组名：</translation>
    </message>
    <message>
        <source>Ext name:</source>
        <translation>扩展名：</translation>
    </message>
    <message>
        <source>Example(.txt)</source>
        <translation>示例(.txt)</translation>
    </message>
    <message>
        <source>Ext description:</source>
        <translation>扩展名描述：</translation>
    </message>
    <message>
        <source>Please input ext name description!</source>
        <translation>请输入扩展名描述！</translation>
    </message>
    <message>
        <source>EnumFolder, Please wait...</source>
        <translation>正在枚举文件夹，请稍候...</translation>
    </message>
    <message>
        <source>Please select a folder to save the recovered files!</source>
        <translation>请选择保存恢复文件的文件夹！</translation>
    </message>
    <message>
        <source>Search files</source>
        <translation>搜索文件</translation>
    </message>
    <message>
        <source>Open Directory</source>
        <translation>打开目录</translation>
    </message>
    <message>
        <source>Please select a file!</source>
        <translation>请选择一个文件！</translation>
    </message>
    <message>
        <source>Preview failed!</source>
        <translation>预览失败！</translation>
    </message>
    <message>
        <source>The file size is zero, cannot preview this file.</source>
        <translation>文件大小为零，无法预览此文件。</translation>
    </message>
    <message>
        <source>The file is too big to preview. (Max size: 50M)</source>
        <translation>文件太大，无法预览。(最大: 50M)</translation>
    </message>
    <message>
        <source>Cannot preview directory.</source>
        <translation>无法预览目录。</translation>
    </message>
    <message>
        <source>Cannot preview encrypted file.</source>
        <translation>无法预览加密文件。</translation>
    </message>
    <message>
        <source>Failed to preview the file. The file is neither a valid Word nor Excel document.</source>
        <translation>预览文件失败。该文件既不是有效的 Word 文档，也不是有效的 Excel 文档。</translation>
    </message>
    <message>
        <source>The destination path you have selected is on the source partition.
Do you want to continue?</source>
        <translation>您选择的目标路径位于源分区上。
是否继续？</translation>
    </message>
    <message>
        <source>No disk in the drive!</source>
        <translation>驱动器中没有磁盘！</translation>
    </message>
    <message>
        <source>The specified drive does not exist!</source>
        <translation>指定的驱动器不存在！</translation>
    </message>
    <message>
        <source>The drive is not formatted!</source>
        <translation>驱动器未格式化！</translation>
    </message>
    <message>
        <source>Invalid path name!</source>
        <translation>路径名无效！</translation>
    </message>
    <message>
        <source>The drive is RAM disk!</source>
        <translation>该驱动器是 RAM 磁盘！</translation>
    </message>
    <message>
        <source>The drive is not ready!</source>
        <translation>驱动器未就绪！</translation>
    </message>
    <message>
        <source>The drive is not writable!</source>
        <translation>驱动器不可写！</translation>
    </message>
    <message>
        <source>The path contains invalid symbol!</source>
        <translation>路径包含无效字符！</translation>
    </message>
    <message>
        <source>The path is too long!</source>
        <translation>路径太长！</translation>
    </message>
    <message>
        <source>Please select a folder to save files!</source>
        <translation>请选择保存文件的文件夹！</translation>
    </message>
    <message>
        <source>No files found, please try other file system!</source>
        <translation>未找到文件，请尝试其他文件系统！</translation>
    </message>
    <message>
        <source>Complete Scan</source>
        <translation>完全扫描</translation>
    </message>
    <message>
        <source>Quick Scan</source>
        <translation>快速扫描</translation>
    </message>
    <message>
        <source>Enum Disk, Please wait...</source>
        <translation>正在枚举磁盘，请稍候...</translation>
    </message>
    <message>
        <source>Modified</source>
        <translation>修改时间</translation>
    </message>
    <message>
        <source>Created</source>
        <translation>创建时间</translation>
    </message>
    <message>
        <source>Accessed</source>
        <translation>访问时间</translation>
    </message>
    <message>
        <source>less than</source>
        <translation>小于</translation>
    </message>
    <message>
        <source>more than</source>
        <translation>大于</translation>
    </message>
    <message>
        <source>No files found matching your criterion.</source>
        <translation>没有找到符合条件的文件。</translation>
    </message>
    <message>
        <source>Add g&amp;roup</source>
        <translation>添加组(&amp;R)</translation>
    </message>
    <message>
        <source>Add &amp;type</source>
        <translation>添加类型(&amp;T)</translation>
    </message>
    <message>
        <source>Please select types to delete which you added!</source>
        <translation>请选择要删除的您添加的类型！</translation>
    </message>
    <message>
        <source>The same group name!</source>
        <translation>组名相同！</translation>
    </message>
    <message>
        <source>Please select a group!</source>
        <translation>请选择一个组！</translation>
    </message>
    <message>
        <source>No types to select means it will search all files, do you want to continue?</source>
        <translation>未选择类型表示将搜索所有文件，是否继续？</translation>
    </message>
    <message>
        <source>	No preview available, Please double click to view TEXT and HEX informations.</source>
        <translation>	无可用预览，请双击查看文本和十六进制信息。</translation>
    </message>
    <message>
        <source>	Please double click to get more informations about Office and PDF files.</source>
        <translation>	请双击以获取 Office 和 PDF 文件的更多信息。</translation>
    </message>
    <message>
        <source>You must run Ravendo with administrator rights.</source>
        <translation>您必须以管理员权限运行 Ravendo。</translation>
    </message>
    <message>
        <source>Other application of Ravendo is running. Please wait...</source>
        <translation>另一个 Ravendo 程序正在运行，请稍候...</translation>
    </message>
    <message>
        <source>The free space is not enough, please select other drives!</source>
        <translation>可用空间不足，请选择其他驱动器！</translation>
    </message>
</context>
</TS>
