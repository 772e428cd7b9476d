#!/usr/bin/env python3
"""Writes the WinRM fixture replies: one folder per class, one file per page.

Run from this folder after changing the instances below; the files are
committed so the tests need no Python. Each page is a whole reply envelope in
the shape a Windows WinRM service sends for "SELECT * FROM <class>": every
property of the class in the order of its class table, null scalars as
xsi:nil, null arrays left out, arrays as repeated elements, datetimes as
cim:Datetime. {{MESSAGE_ID}}, {{RELATES_TO}} and {{CONTEXT}} are filled in by
the fixture responder. replies.conf lines: "status PAGE HTTP" and
"delay PAGE MILLISECONDS".
"""
import json
import os
import shutil
from xml.sax.saxutils import escape

HERE = os.path.dirname(os.path.abspath(__file__))
SCHEMA = json.load(open(os.path.join(HERE, '../../../schema/classes.json')))

NS = ('xmlns:s="http://www.w3.org/2003/05/soap-envelope" '
      'xmlns:a="http://schemas.xmlsoap.org/ws/2004/08/addressing" '
      'xmlns:n="http://schemas.xmlsoap.org/ws/2004/09/enumeration" '
      'xmlns:w="http://schemas.dmtf.org/wbem/wsman/1/wsman.xsd" '
      'xmlns:x="http://www.w3.org/2001/XMLSchema-instance"')
HEADER = ('<s:Header><a:Action>{action}</a:Action><a:MessageID>{{{{MESSAGE_ID}}}}</a:MessageID>'
          '<a:To>http://schemas.xmlsoap.org/ws/2004/08/addressing/role/anonymous</a:To>'
          '<a:RelatesTo>{{{{RELATES_TO}}}}</a:RelatesTo></s:Header>')
ENUM = 'http://schemas.xmlsoap.org/ws/2004/09/enumeration/'


class Dt(str):
    """A datetime property: written as cim:Datetime."""


def item(cls, props, element=None):
    """One instance; `props` maps names to values (None: nil, list: array,
    Dt: datetime). Class-table properties not given are null."""
    element = element or cls
    uri = 'http://schemas.microsoft.com/wbem/wsman/1/wmi/root/cimv2/' + element
    out = [f'<p:{element} xmlns:p="{uri}" xmlns:cim="http://schemas.dmtf.org/wbem/wscim/1/common" '
           f'x:type="p:{element}_Type">']
    table = SCHEMA[cls]['properties'] if cls in SCHEMA else []
    names = [n for n, _ in table] + [n for n in props if n not in [t[0] for t in table]]
    types = dict(table)
    for name in names:
        value = props.get(name)
        is_array = types.get(name, '').endswith('[]')
        if value is None:
            if not is_array:
                out.append(f'<p:{name} x:nil="true"/>')
            continue
        values = value if isinstance(value, list) else [value]
        for v in values:
            if isinstance(v, Dt):
                out.append(f'<p:{name}><cim:Datetime>{v}</cim:Datetime></p:{name}>')
            elif isinstance(v, bool):
                out.append(f'<p:{name}>{"true" if v else "false"}</p:{name}>')
            else:
                out.append(f'<p:{name}>{escape(str(v))}</p:{name}>')
    out.append(f'</p:{element}>')
    return ''.join(out)


def enumerate_page(items, end, context=True, end_ns='w'):
    ctx = '<n:EnumerationContext>{{CONTEXT}}</n:EnumerationContext>' if context else \
        '<n:EnumerationContext></n:EnumerationContext>'
    tail = f'<{end_ns}:EndOfSequence/>' if end else ''
    body = f'<n:EnumerateResponse>{ctx}<w:Items>{"".join(items)}</w:Items>{tail}</n:EnumerateResponse>'
    return envelope(ENUM + 'EnumerateResponse', body)


def pull_page(items, end):
    ctx = '' if end else '<n:EnumerationContext>{{CONTEXT}}</n:EnumerationContext>'
    tail = '<n:EndOfSequence/>' if end else ''
    body = f'<n:PullResponse>{ctx}<n:Items>{"".join(items)}</n:Items>{tail}</n:PullResponse>'
    return envelope(ENUM + 'PullResponse', body)


def envelope(action, body):
    return (f'<s:Envelope xml:lang="en-US" {NS}>' + HEADER.format(action=action) +
            f'<s:Body>{body}</s:Body></s:Envelope>')


def fault(subcode, reason, codes, message, detail=None, extended=''):
    """A WinRM fault; `codes` from the outer WSManFault inwards."""
    f = 'xmlns:f="http://schemas.microsoft.com/wbem/wsman/1/wsmanfault"'
    inner = f'<f:Message>{escape(message)}</f:Message>'
    for i, code in enumerate(reversed(codes)):
        if i == 0:
            fault_xml = f'<f:WSManFault {f} Code="{code}" Machine="win-fixture">{inner}</f:WSManFault>'
        else:
            fault_xml = (f'<f:WSManFault {f} Code="{code}" Machine="win-fixture"><f:Message>'
                         f'<f:ProviderFault provider="WMI Provider" path="%systemroot%\\system32\\WsmWmiPl.dll">'
                         f'{fault_xml}{extended}</f:ProviderFault></f:Message></f:WSManFault>')
        inner = ''
    det = f'<w:FaultDetail>{detail}</w:FaultDetail>' if detail else ''
    body = (f'<s:Fault><s:Code><s:Value>s:Sender</s:Value><s:Subcode><s:Value>{subcode}</s:Value>'
            f'</s:Subcode></s:Code><s:Reason><s:Text xml:lang="en-US">{escape(reason)}</s:Text>'
            f'</s:Reason><s:Detail>{det}{fault_xml}</s:Detail></s:Fault>')
    return envelope('http://schemas.dmtf.org/wbem/wsman/1/wsman/fault', body)


def write(name, pages, conf=''):
    d = os.path.join(HERE, name)
    shutil.rmtree(d, ignore_errors=True)
    os.makedirs(d)
    for i, text in enumerate(pages, 1):
        with open(os.path.join(d, f'page-{i}.xml'), 'w', encoding='utf-8') as f:
            f.write(text + '\n')
    if conf:
        with open(os.path.join(d, 'replies.conf'), 'w') as f:
            f.write(conf)


def paged(cls, items, sizes, first_has_end_ns='w'):
    """Pages of the given sizes: an optimized EnumerateResponse, then Pulls."""
    pages, at = [], 0
    for i, size in enumerate(sizes):
        chunk = items[at:at + size]
        at += size
        last = at >= len(items)
        pages.append(enumerate_page(chunk, last, context=not last) if i == 0 else pull_page(chunk, last))
    assert at == len(items), cls
    return pages


def one_page(cls, items):
    return [enumerate_page(items, True, context=False)]


SYS = 'WIN-FIXTURE'

# --- the classes the categories query ---------------------------------------

disks = [
    item('Win32_LogicalDisk', {'DeviceID': 'C:', 'Caption': 'C:', 'Name': 'C:', 'DriveType': 3,
                               'Description': 'Local Fixed Disk', 'FileSystem': 'NTFS',
                               'FreeSpace': '7955570688', 'Size': '64422408192', 'VolumeName': '',
                               'VolumeDirty': False, 'VolumeSerialNumber': '9A4C1E2B', 'MediaType': 12,
                               'SystemName': SYS, 'Compressed': False, 'MaximumComponentLength': 255}),
    item('Win32_LogicalDisk', {'DeviceID': 'D:', 'Caption': 'D:', 'Name': 'D:', 'DriveType': 5,
                               'Description': 'CD-ROM Disc', 'SystemName': SYS, 'MediaType': 11}),
    item('Win32_LogicalDisk', {'DeviceID': 'E:', 'Caption': 'E:', 'Name': 'E:', 'DriveType': 3,
                               'Description': 'Local Fixed Disk', 'FileSystem': 'NTFS',
                               'FreeSpace': '18446744073709551000', 'Size': '18446744073709551615',
                               'VolumeName': 'Data & Logs <archive>', 'VolumeDirty': True,
                               'SystemName': SYS}),
]
write('Win32_LogicalDisk', one_page('Win32_LogicalDisk', disks))

adapters = [
    item('Win32_NetworkAdapterConfiguration', {
        'Index': 7, 'InterfaceIndex': 12, 'Caption': '[00000007] Intel(R) 82574L Gigabit Network Connection',
        'Description': 'Intel(R) 82574L Gigabit Network Connection', 'IPEnabled': True,
        'DHCPEnabled': True, 'DHCPServer': '10.30.40.1', 'DNSDomain': 'corp.example',
        'DHCPLeaseObtained': Dt('2026-12-08T06:12:40Z'), 'DHCPLeaseExpires': Dt('2026-12-09T06:12:40.5Z'),
        'IPAddress': ['10.30.40.64', 'fe80::9d1c:2b77:41a0:c3e5'], 'IPSubnet': ['255.255.255.0', '64'],
        'DefaultIPGateway': ['10.30.40.1'], 'GatewayCostMetric': [0],
        'DNSServerSearchOrder': ['10.30.40.2', '10.30.40.3'], 'DNSDomainSuffixSearchOrder': ['corp.example', 'example'],
        'MACAddress': '00:0C:29:4F:8E:35', 'MTU': None, 'ServiceName': 'e1iexpress',
        'SettingID': '{5B1F1B6E-29D1-4B5E-8A2C-8D1E2F3A4B5C}', 'DNSHostName': 'win-fixture',
        'TcpipNetbiosOptions': 0, 'IPConnectionMetric': 10}),
    item('Win32_NetworkAdapterConfiguration', {
        'Index': 9, 'InterfaceIndex': 15, 'Caption': '[00000009] Hyper-V Virtual Ethernet Adapter',
        'Description': 'Hyper-V Virtual Ethernet Adapter', 'IPEnabled': True, 'DHCPEnabled': False,
        'IPAddress': ['192.168.150.1'], 'IPSubnet': ['255.255.255.0'], 'DNSDomain': '',
        'MACAddress': '00:15:5D:01:02:03', 'MTU': 1500, 'ServiceName': 'VMSNPXYMP',
        'SettingID': '{0C7E8A7D-6F1B-4E0F-9B9E-3D2C1B0A9F8E}', 'DNSHostName': 'win-fixture'}),
]
# Two pages, the first with a context and no end, as older servers answer.
write('Win32_NetworkAdapterConfiguration',
      [enumerate_page(adapters[:1], False), pull_page(adapters[1:], True)])


def service(name, display, state, mode, pid, path, start_name='LocalSystem', status='OK'):
    return item('Win32_Service', {
        'Name': name, 'DisplayName': display, 'Caption': display, 'State': state, 'StartMode': mode,
        'Started': state == 'Running', 'ProcessId': pid, 'PathName': path, 'StartName': start_name,
        'ServiceType': 'Share Process', 'Status': status, 'ErrorControl': 'Normal', 'ExitCode': 0,
        'AcceptPause': False, 'AcceptStop': state == 'Running', 'DelayedAutoStart': False,
        'DesktopInteract': False, 'CheckPoint': 0, 'WaitHint': 0, 'ServiceSpecificExitCode': 0,
        'TagId': 0, 'SystemName': SYS, 'CreationClassName': 'Win32_Service',
        'SystemCreationClassName': 'Win32_ComputerSystem',
        'Description': f'The {display} service.'})


services = [
    service('AppIDSvc', 'Application Identity', 'Stopped', 'Manual', 0,
            r'C:\Windows\system32\svchost.exe -k LocalServiceNetworkRestricted -p', r'NT Authority\LocalService'),
    service('BITS', 'Background Intelligent Transfer Service', 'Running', 'Auto', 1020,
            r'C:\Windows\System32\svchost.exe -k netsvcs -p'),
    service('Dhcp', 'DHCP Client', 'Running', 'Auto', 1184,
            r'C:\Windows\system32\svchost.exe -k LocalServiceNetworkRestricted -p', r'NT Authority\LocalService'),
    service('Spooler', 'Print Spooler', 'Stopped', 'Auto', 0, r'C:\Windows\System32\spoolsv.exe',
            status='Degraded'),
    service('W32Time', 'Windows Time', 'Running', 'Manual', 1452,
            r'C:\Windows\system32\svchost.exe -k LocalService', r'NT AUTHORITY\LocalService'),
    service('WinRM', 'Windows Remote Management (WS-Management)', 'Running', 'Auto', 1616,
            r'C:\Windows\System32\svchost.exe -k NetworkService -p', r'NT AUTHORITY\NetworkService'),
]
# The server picks the page sizes: 1 in the Enumerate response, then 3 and 2.
write('Win32_Service', paged('Win32_Service', services, [1, 3, 2]))


def process(pid, name, path, ppid, ws, created, extra=None, element=None):
    p = {'ProcessId': pid, 'Handle': str(pid), 'Name': name, 'Caption': name, 'Description': name,
         'ExecutablePath': path, 'CommandLine': (f'"{path}"' if path else None), 'ParentProcessId': ppid,
         'WorkingSetSize': str(ws), 'VirtualSize': str(ws * 9), 'PeakVirtualSize': str(ws * 11),
         'PrivatePageCount': str(ws // 2), 'PageFileUsage': ws // 2048, 'ThreadCount': 12, 'HandleCount': 431,
         'Priority': 8, 'SessionId': 0, 'KernelModeTime': '1562500', 'UserModeTime': '781250',
         'CreationDate': Dt(created), 'CSName': SYS, 'OSName': 'Microsoft Windows Server 2022 Standard|C:\\Windows|\\Device\\Harddisk0\\Partition2',
         'WindowsVersion': '10.0.20348', 'CreationClassName': 'Win32_Process',
         'CSCreationClassName': 'Win32_ComputerSystem', 'OSCreationClassName': 'Win32_OperatingSystem',
         'ReadOperationCount': '120', 'ReadTransferCount': '524288', 'WriteOperationCount': '8',
         'WriteTransferCount': '4096', 'OtherOperationCount': '900', 'OtherTransferCount': '20480',
         'PageFaults': 2100, 'PeakPageFileUsage': ws // 1024, 'PeakWorkingSetSize': ws // 1024,
         'QuotaNonPagedPoolUsage': 14, 'QuotaPagedPoolUsage': 120, 'QuotaPeakNonPagedPoolUsage': 16,
         'QuotaPeakPagedPoolUsage': 128, 'MaximumWorkingSetSize': 1380, 'MinimumWorkingSetSize': 200}
    p.update(extra or {})
    return item('Win32_Process', p, element)


processes = [
    process(0, 'System Idle Process', None, 0, 8192, '2026-12-08T06:10:01.000000Z'),
    process(4, 'System', None, 0, 151552, '2026-12-08T06:10:01.000000Z'),
    process(612, 'smss.exe', r'C:\Windows\System32\smss.exe', 4, 1269760, '2026-12-08T06:10:02.125Z'),
    # A subclass that adds properties, two of them named like protocol
    # elements: they must neither end the page nor start a new one.
    process(1880, 'agent.exe', r'C:\Program Files\Contoso\agent.exe', 612, 20971520,
            '2026-12-08T06:11:13.5-08:00', {'EndOfSequence': 'true', 'Items': 'none', 'Tenant': 'Fabrikam'},
            element='Contoso_AgentProcess'),
    process(2208, 'svchost.exe', r'C:\Windows\System32\svchost.exe', 612, 9437184, '2026-12-08T06:10:05Z'),
    process(4412, 'powershell.exe', r'C:\Windows\System32\WindowsPowerShell\v1.0\powershell.exe', 2208,
            73400320, '2026-12-08T17:44:31.250000Z'),
]
write('Win32_Process', paged('Win32_Process', processes, [2, 3, 1]))

write('Win32_OperatingSystem', one_page('Win32_OperatingSystem', [item('Win32_OperatingSystem', {
    'Caption': 'Microsoft Windows Server 2022 Standard', 'Version': '10.0.20348', 'BuildNumber': '20348',
    'BuildType': 'Multiprocessor Free', 'CSName': SYS, 'Manufacturer': 'Microsoft Corporation',
    'Name': 'Microsoft Windows Server 2022 Standard|C:\\Windows|\\Device\\Harddisk0\\Partition2',
    'OSArchitecture': '64-bit', 'OSType': 18, 'ProductType': 3, 'CurrentTimeZone': -480,
    'InstallDate': Dt('2025-03-09T02:57:32Z'), 'LastBootUpTime': Dt('2026-12-08T06:10:00.500000Z'),
    'LocalDateTime': Dt('2026-12-08T10:34:25.123456-08:00'), 'MUILanguages': ['en-US'],
    'FreePhysicalMemory': '5242880', 'TotalVisibleMemorySize': '8388084', 'FreeVirtualMemory': '6815744',
    'TotalVirtualMemorySize': '9698804', 'SizeStoredInPagingFiles': '1310720', 'FreeSpaceInPagingFiles': '1290240',
    'MaxProcessMemorySize': '137438953344', 'NumberOfProcesses': 96, 'NumberOfUsers': 2, 'Primary': True,
    'Debug': False, 'Distributed': False, 'Locale': '0409', 'CountryCode': '1', 'CodeSet': '1252',
    'OSLanguage': 1033, 'SerialNumber': '00454-60000-00001-AA000', 'Status': 'OK',
    'SystemDirectory': r'C:\Windows\system32', 'WindowsDirectory': r'C:\Windows', 'SystemDrive': 'C:',
    'RegisteredUser': 'Windows User', 'Organization': '', 'CSDVersion': None,
    'ServicePackMajorVersion': 0, 'ServicePackMinorVersion': 0, 'EncryptionLevel': 256,
    'DataExecutionPrevention_Available': True, 'PAEEnabled': None, 'SuiteMask': 272,
    'OperatingSystemSKU': 7, 'BootDevice': r'\Device\HarddiskVolume1',
    'SystemDevice': r'\Device\HarddiskVolume2', 'Description': ''})]))

printers = [
    item('Win32_Printer', {'DeviceID': 'Microsoft Print to PDF', 'Name': 'Microsoft Print to PDF',
                           'Caption': 'Microsoft Print to PDF', 'DriverName': 'Microsoft Print To PDF',
                           'PortName': 'PORTPROMPT:', 'PrinterStatus': 3, 'PrinterState': 0, 'Status': 'OK',
                           'Default': True, 'Local': True, 'Network': False, 'Shared': False, 'Published': False,
                           'Queued': False, 'Direct': False, 'SpoolEnabled': True, 'WorkOffline': False,
                           'PrintProcessor': 'winprint', 'HorizontalResolution': 600, 'VerticalResolution': 600,
                           'Capabilities': [4, 2, 5], 'CapabilityDescriptions': ['Copies', 'Color', 'Collate'],
                           'Attributes': 576, 'SystemName': SYS, 'Location': '', 'Comment': ''}),
    item('Win32_Printer', {'DeviceID': 'HP LaserJet 4th floor', 'Name': 'HP LaserJet 4th floor',
                           'Caption': 'HP LaserJet 4th floor', 'DriverName': 'HP Universal Printing PCL 6',
                           'PortName': '10.30.40.90', 'PrinterStatus': 1, 'Status': 'Error', 'Default': False,
                           'Local': True, 'Network': False, 'Shared': True, 'ShareName': 'LJ4', 'Published': True,
                           'Queued': True, 'Direct': False, 'SpoolEnabled': True, 'WorkOffline': True,
                           'PrintProcessor': 'winprint', 'HorizontalResolution': 1200, 'VerticalResolution': 1200,
                           'Capabilities': [4], 'Location': 'Building 2, 4th floor', 'SystemName': SYS}),
]
write('Win32_Printer', one_page('Win32_Printer', printers))

# Nothing queued, no battery: an empty first page that ends the sequence.
write('Win32_PrintJob', one_page('Win32_PrintJob', []))
write('Win32_Battery', one_page('Win32_Battery', []))

write('Win32_PhysicalMemory', one_page('Win32_PhysicalMemory', [
    item('Win32_PhysicalMemory', {'Tag': f'Physical Memory {i}', 'BankLabel': '', 'DeviceLocator': f'DIMM {i}',
                                  'Capacity': '4294967296', 'Speed': 2933, 'ConfiguredClockSpeed': 2933,
                                  'Manufacturer': 'Samsung', 'PartNumber': 'M378A5244CB0-CVF  ',
                                  'SerialNumber': f'3A1F00{i}C', 'FormFactor': 8, 'MemoryType': 0,
                                  'SMBIOSMemoryType': 26, 'DataWidth': 64, 'TotalWidth': 64,
                                  'Caption': 'Physical Memory', 'Name': 'Physical Memory',
                                  'CreationClassName': 'Win32_PhysicalMemory'}) for i in range(2)]))

write('Win32_Product', one_page('Win32_Product', [
    item('Win32_Product', {'IdentifyingNumber': '{1D8E6291-B0D5-35EC-8441-6616F567A0F7}',
                           'Name': 'Microsoft Visual C++ 2010  x64 Redistributable - 10.0.40219',
                           'Vendor': 'Microsoft Corporation', 'Version': '10.0.40219', 'InstallDate': '20250310',
                           'InstallLocation': None, 'InstallState': 5, 'PackageName': 'vc_red.msi',
                           'Caption': 'Microsoft Visual C++ 2010  x64 Redistributable - 10.0.40219',
                           'Description': 'Microsoft Visual C++ 2010  x64 Redistributable - 10.0.40219'}),
    item('Win32_Product', {'IdentifyingNumber': '{23170F69-40C1-2702-2301-000001000000}',
                           'Name': '7-Zip 23.01 (x64 edition)', 'Vendor': 'Igor Pavlov', 'Version': '23.01.00.0',
                           'InstallDate': '20250402', 'InstallLocation': 'C:\\Program Files\\7-Zip\\',
                           'InstallState': 5, 'PackageName': '7z2301-x64.msi',
                           'Caption': '7-Zip 23.01 (x64 edition)', 'Description': '7-Zip 23.01 (x64 edition)'}),
]))

# A query of the abstract class returns its subclasses, each under its own name.
write('Win32_Account', paged('Win32_Account', [
    item('Win32_UserAccount', {'Name': 'Administrator', 'Domain': SYS, 'Caption': SYS + '\\Administrator',
                               'SID': 'S-1-5-21-3623811015-3361044348-30300820-500', 'SIDType': 1,
                               'AccountType': 512, 'LocalAccount': True, 'Disabled': False, 'Lockout': False,
                               'PasswordChangeable': True, 'PasswordExpires': False, 'PasswordRequired': True,
                               'Status': 'OK', 'FullName': '',
                               'Description': 'Built-in account for administering the computer/domain'}),
    item('Win32_UserAccount', {'Name': 'Guest', 'Domain': SYS, 'Caption': SYS + '\\Guest',
                               'SID': 'S-1-5-21-3623811015-3361044348-30300820-501', 'SIDType': 1,
                               'AccountType': 512, 'LocalAccount': True, 'Disabled': True, 'Lockout': False,
                               'Status': 'Degraded', 'FullName': ''}),
    item('Win32_Group', {'Name': 'Remote Management Users', 'Domain': 'BUILTIN',
                         'Caption': 'BUILTIN\\Remote Management Users', 'SID': 'S-1-5-32-580', 'SIDType': 4,
                         'LocalAccount': True, 'Status': 'OK',
                         'Description': 'Members of this group can access WMI resources over management protocols'}),
    item('Win32_SystemAccount', {'Name': 'SYSTEM', 'Domain': 'NT AUTHORITY', 'Caption': 'NT AUTHORITY\\SYSTEM',
                                 'SID': 'S-1-5-18', 'SIDType': 5, 'LocalAccount': True, 'Status': 'OK'}),
], [3, 1]))

simple = {
    'Win32_DiskDrive': [{'DeviceID': r'\\.\PHYSICALDRIVE0', 'Model': 'VMware Virtual NVMe Disk',
                         'Caption': 'VMware Virtual NVMe Disk', 'InterfaceType': 'SCSI', 'MediaType': 'Fixed hard disk media',
                         'Size': '64420392960', 'Partitions': 3, 'Index': 0, 'Status': 'OK', 'SerialNumber': '6000_c29a_1b2c_3d4e.',
                         'Capabilities': [3, 4], 'CapabilityDescriptions': ['Random Access', 'Supports Writing'],
                         'BytesPerSector': 512, 'FirmwareRevision': '1.3', 'SystemName': SYS}],
    'Win32_BIOS': [{'Manufacturer': 'VMware, Inc.', 'Name': 'VMW71.00V.21805430.B64.2305221830',
                    'SerialNumber': 'VMware-56 4d 2b 1a', 'SMBIOSBIOSVersion': 'VMW71.00V.21805430.B64.2305221830',
                    'Version': 'INTEL  - 6040000', 'ReleaseDate': Dt('2023-05-22T00:00:00Z'), 'Status': 'OK',
                    'PrimaryBIOS': True, 'BIOSVersion': ['INTEL  - 6040000', 'VMW71.00V.21805430.B64.2305221830'],
                    'BiosCharacteristics': [7, 9, 11, 12, 15], 'SMBIOSMajorVersion': 2, 'SMBIOSMinorVersion': 7,
                    'SMBIOSPresent': True, 'SoftwareElementID': 'VMW71.00V', 'SoftwareElementState': 3,
                    'TargetOperatingSystem': 0, 'Caption': 'VMW71.00V', 'Description': 'VMW71.00V'}],
    'Win32_ComputerSystem': [{'Name': SYS, 'Caption': SYS, 'Domain': 'corp.example', 'PartOfDomain': True,
                              'Manufacturer': 'VMware, Inc.', 'Model': 'VMware7,1', 'TotalPhysicalMemory': '8589398016',
                              'NumberOfProcessors': 1, 'NumberOfLogicalProcessors': 4, 'SystemType': 'x64-based PC',
                              'UserName': 'CORP\\alice', 'Status': 'OK', 'DomainRole': 3, 'BootupState': 'Normal boot',
                              'Roles': ['LM_Workstation', 'LM_Server', 'NT', 'Server_NT'], 'PrimaryOwnerName': 'Windows User',
                              'CurrentTimeZone': -480, 'DaylightInEffect': False, 'Workgroup': None}],
    'Win32_VideoController': [{'DeviceID': 'VideoController1', 'Name': 'VMware SVGA 3D', 'Caption': 'VMware SVGA 3D',
                               'AdapterRAM': 4194304, 'DriverVersion': '9.17.4.3', 'VideoProcessor': 'VMware Virtual SVGA 3D Graphics Adapter',
                               'CurrentHorizontalResolution': 1280, 'CurrentVerticalResolution': 800,
                               'CurrentBitsPerPixel': 32, 'CurrentRefreshRate': 60, 'Status': 'OK',
                               'DriverDate': Dt('2023-01-17T00:00:00Z'), 'VideoModeDescription': '1280 x 800 x 4294967296 colors',
                               'AdapterCompatibility': 'VMware, Inc.', 'Availability': 3}],
    'Win32_Share': [{'Name': 'ADMIN$', 'Path': r'C:\Windows', 'Description': 'Remote Admin', 'Caption': 'Remote Admin',
                     'Type': 2147483648, 'Status': 'OK', 'AllowMaximum': True, 'MaximumAllowed': None},
                    {'Name': 'C$', 'Path': 'C:\\', 'Description': 'Default share', 'Caption': 'Default share',
                     'Type': 2147483648, 'Status': 'OK', 'AllowMaximum': True},
                    {'Name': 'IPC$', 'Path': '', 'Description': 'Remote IPC', 'Caption': 'Remote IPC',
                     'Type': 2147483651, 'Status': 'OK', 'AllowMaximum': True},
                    {'Name': 'Reports', 'Path': r'D:\Shares\Reports', 'Description': '', 'Caption': '',
                     'Type': 0, 'Status': 'OK', 'AllowMaximum': False, 'MaximumAllowed': 10}],
    'Win32_Desktop': [{'Name': 'NT AUTHORITY\\SYSTEM', 'SettingID': None, 'ScreenSaverActive': False,
                       'ScreenSaverSecure': None, 'ScreenSaverTimeout': None, 'Wallpaper': '',
                       'BorderWidth': 1, 'IconSpacing': 43, 'CursorBlinkRate': 530, 'DragFullWindows': False},
                      {'Name': '.DEFAULT', 'ScreenSaverActive': True, 'ScreenSaverSecure': True,
                       'ScreenSaverTimeout': 900, 'ScreenSaverExecutable': r'C:\Windows\system32\scrnsave.scr',
                       'Wallpaper': '', 'BorderWidth': 1, 'IconSpacing': 43, 'CursorBlinkRate': 530}],
    'Win32_IP4RouteTable': [{'Destination': '0.0.0.0', 'Mask': '0.0.0.0', 'NextHop': '10.30.40.1', 'InterfaceIndex': 12,
                             'Metric1': 25, 'Metric2': -1, 'Metric3': -1, 'Metric4': -1, 'Metric5': -1,
                             'Protocol': 3, 'Type': 4, 'Age': 16226, 'Name': '0.0.0.0', 'Caption': '0.0.0.0',
                             'Description': '0.0.0.0 - 0.0.0.0 - 10.30.40.1', 'Information': '0.0', 'Status': None},
                            {'Destination': '10.30.40.0', 'Mask': '255.255.255.0', 'NextHop': '0.0.0.0',
                             'InterfaceIndex': 12, 'Metric1': 281, 'Metric2': -1, 'Metric3': -1, 'Metric4': -1,
                             'Metric5': -1, 'Protocol': 2, 'Type': 3, 'Age': 16226, 'Name': '10.30.40.0',
                             'Caption': '10.30.40.0', 'Description': '10.30.40.0 - 255.255.255.0 - 0.0.0.0',
                             'Information': '0.0'}],
    'Win32_TimeZone': [{'Caption': '(UTC-08:00) Pacific Time (US & Canada)', 'Description': '(UTC-08:00) Pacific Time (US & Canada)',
                        'StandardName': 'Pacific Standard Time', 'DaylightName': 'Pacific Daylight Time',
                        'Bias': -480, 'DaylightBias': -60, 'StandardBias': 0, 'DaylightMonth': 3, 'DaylightDay': 2,
                        'DaylightDayOfWeek': 0, 'DaylightHour': 2, 'StandardMonth': 11, 'StandardDay': 1,
                        'StandardDayOfWeek': 0, 'StandardHour': 2, 'SettingID': None}],
    'Win32_Processor': [{'DeviceID': 'CPU0', 'Name': 'Intel(R) Xeon(R) Gold 6230 CPU @ 2.10GHz', 'Caption': 'Intel64 Family 6 Model 85 Stepping 7',
                         'Manufacturer': 'GenuineIntel', 'MaxClockSpeed': 2095, 'CurrentClockSpeed': 2095,
                         'NumberOfCores': 4, 'NumberOfLogicalProcessors': 4, 'LoadPercentage': 3, 'Architecture': 9,
                         'AddressWidth': 64, 'DataWidth': 64, 'L2CacheSize': 4096, 'L3CacheSize': 28160,
                         'ProcessorId': '0F8BFBFF00050657', 'SocketDesignation': 'CPU 0', 'Status': 'OK',
                         'CpuStatus': 1, 'Availability': 3, 'VirtualizationFirmwareEnabled': False,
                         'SystemName': SYS, 'Family': 179, 'Level': 6, 'Revision': None}],
    'Win32_BaseBoard': [{'Manufacturer': 'Intel Corporation', 'Product': '440BX Desktop Reference Platform',
                         'SerialNumber': 'None', 'Version': 'None', 'Tag': 'Base Board', 'HostingBoard': True,
                         'Removable': False, 'Replaceable': True, 'HotSwappable': False, 'PoweredOn': True,
                         'Status': 'OK', 'Name': 'Base Board', 'Caption': 'Base Board',
                         'ConfigOptions': [], 'CreationClassName': 'Win32_BaseBoard'}],
    'Win32_Environment': [{'Name': 'ComSpec', 'VariableValue': r'%SystemRoot%\system32\cmd.exe', 'UserName': '<SYSTEM>',
                           'SystemVariable': True, 'Caption': '<SYSTEM>\\ComSpec', 'Description': '<SYSTEM>\\ComSpec', 'Status': 'OK'},
                          {'Name': 'Path', 'VariableValue': r'%SystemRoot%\system32;%SystemRoot%;C:\Program Files\PowerShell\7\\',
                           'UserName': '<SYSTEM>', 'SystemVariable': True, 'Caption': '<SYSTEM>\\Path',
                           'Description': '<SYSTEM>\\Path', 'Status': 'OK'},
                          {'Name': 'TEMP', 'VariableValue': r'%USERPROFILE%\AppData\Local\Temp', 'UserName': 'CORP\\alice',
                           'SystemVariable': False, 'Caption': 'CORP\\alice\\TEMP', 'Description': 'CORP\\alice\\TEMP',
                           'Status': 'OK'}],
}
for cls, instances in simple.items():
    for inst in instances:
        for k, v in list(inst.items()):
            if isinstance(v, list) and not v:
                inst[k] = None  # an empty array is left out, like a null one
    write(cls, one_page(cls, [item(cls, inst) for inst in instances]))

# --- replies the walk must cope with -----------------------------------------
tiny = lambda n: item('Win32_Environment', {'Name': f'VAR{n}', 'VariableValue': str(n), 'UserName': '<SYSTEM>'})

# A Pull that finds nothing within the operation timeout: WinRM faults with
# TimedOut and the context stays good; the next Pull brings the rest.
write('Tavo_PullTimedOut', [
    enumerate_page([tiny(1)], False),
    fault('w:TimedOut', 'The WS-Management service cannot complete the operation within the time specified in OperationTimeout.',
          [2150858793], 'The WS-Management service cannot complete the operation within the time specified in OperationTimeout.'),
    pull_page([tiny(2)], True),
], 'status 2 500\n')
# A second page that comes too late.
write('Tavo_Slow', [enumerate_page([tiny(1)], False), pull_page([tiny(2)], True)], 'delay 2 3000\n')
write('Tavo_AccessDenied', [fault('w:AccessDenied', 'Access is denied.', [5], 'Access is denied. ')],
      'status 1 500\n')
write('Tavo_NoListener', ['<html><body><h1>Not Found</h1></body></html>'], 'status 1 404\n')
write('Tavo_Malformed', [enumerate_page([tiny(1)], False).replace('</w:Items>', '</w:Itemz>')])
write('Tavo_Doctype', ['<!DOCTYPE s:Envelope [<!ENTITY big "' + 'x' * 64 + '">]>' +
                       enumerate_page([tiny(1)], True, context=False).replace('>1<', '>&big;<')])
# The end in the enumeration namespace inside the Enumerate response: both
# forms are accepted wherever they come.
write('Tavo_EnumEnd', [enumerate_page([tiny(1), tiny(2)], True, context=False, end_ns='n')])

# The template of the fault WMI raises for a class it does not know; the
# responder fills in the query.
os.makedirs(os.path.join(HERE, '_faults'), exist_ok=True)
with open(os.path.join(HERE, '_faults', 'invalid-class.xml'), 'w') as f:
    f.write(fault('w:InvalidParameter', 'The parameter is incorrect. ', [2150858752, 2147749904], 'Invalid class ',
                  extended='<f:ExtendedError><p:__ExtendedStatus xmlns:p="http://schemas.microsoft.com/wbem/wsman/1/wmi/root/cimv2/__ExtendedStatus" '
                           'x:type="p:__ExtendedStatus_Type"><p:Description x:nil="true"/><p:Operation>ExecQuery</p:Operation>'
                           '<p:ParameterInfo>{{QUERY}}</p:ParameterInfo><p:ProviderName>WinMgmt</p:ProviderName>'
                           '<p:StatusCode x:nil="true"/></p:__ExtendedStatus></f:ExtendedError>') + '\n')
