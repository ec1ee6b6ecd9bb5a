<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>QObject</name>
    <message>
        <source>Ravendo</source>
        <translation>Ravendo</translation>
    </message>
    <message>
        <source>Unknown error!</source>
        <translation>未知错误！</translation>
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
或提示需要格式化的驱动器中的文件。</translation>
    </message>
    <message>
        <source>Continue to recovery the last time scan results.</source>
        <translation>继续恢复上次扫描的结果。</translation>
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
        <source>No files found, please try other file system!</source>
        <translation>未找到文件，请尝试其他文件系统！</translation>
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
        <source>Open Directory</source>
        <translation>打开目录</translation>
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
        <source>No types to select means it will search all files, do you want to continue?</source>
        <translation>未选择类型表示将搜索所有文件，是否继续？</translation>
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
        <source>Ext description:</source>
        <translation>扩展名描述：</translation>
    </message>
    <message>
        <source>Please input ext name description!</source>
        <translation>请输入扩展名描述！</translation>
    </message>
</context>
<context>
    <name>CEnumDiskPage</name>
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
</context>
<context>
    <name>CSearchFileProgressDlg</name>
    <message>
        <source>Searching</source>
        <translation>正在搜索</translation>
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
        <source>Files found:</source>
        <translation>找到的文件：</translation>
    </message>
</context>
<context>
    <name>CSearchTypsPage</name>
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
    <name>COptionDlg</name>
    <message>
        <source>Option</source>
        <translation>选项</translation>
    </message>
    <message>
        <source>Bytes</source>
        <translation>字节</translation>
    </message>
    <message>
        <source>Ignore bad sector</source>
        <translation>忽略坏扇区</translation>
    </message>
    <message>
        <source>Default save path</source>
        <translation>默认保存路径</translation>
    </message>
    <message>
        <source>Disk scan</source>
        <translation>磁盘扫描</translation>
    </message>
    <message>
        <source>Bad Sector</source>
        <translation>坏扇区</translation>
    </message>
    <message>
        <source>Partition recovery</source>
        <translation>分区恢复</translation>
    </message>
    <message>
        <source>Maximal search size:</source>
        <translation>最大搜索大小：</translation>
    </message>
    <message>
        <source>Maximal partition limit:</source>
        <translation>最大分区数：</translation>
    </message>
</context>
<context>
    <name>CAboutDlg</name>
    <message>
        <source>About Ravendo</source>
        <translation>关于 Ravendo</translation>
    </message>
</context>
</TS>
