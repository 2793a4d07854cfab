#!/usr/bin/env python3
"""Writes demo/: a Windows 98 machine folder with the TQ72 PCI modem installed.

    python3 tools/make_demo.py [OUTPUT_DIR]      (default: demo/ of the repo)

The machine is made up but shaped like a real one: a REGEDIT4 export as
Windows 98's regedit writes it (CR LF, parents before children, hex data
wrapped with continuation lines), the product's six files among unrelated
drivers, applets and help files, and a SYSTEM.INI that loads the modem's VxD.

Beside the product's keys it plants neighbours that a careless removal would
take along: a stale PCI key whose name is a prefix of the card's, a second
modem class instance, the other MEDIA instances, other wave drivers in
MediaResources, other uninstall entries, the card's hardware-profile entry
under Config\\0001\\Enum, and thousands of unrelated keys.

Also writes tests/e2e/expected/: the keys a confirmed run removes and the
SYSTEM.INI it leaves. Output is deterministic (fixed seed): running the
script again reproduces the committed files byte for byte.
"""

import os
import random
import shutil
import sys

SEED = 7220
rng = random.Random(SEED)

PNP_ID = "VEN_1F8C&DEV_0072&SUBSYS_00721F8C&REV_01"
CARD_INSTANCE = "BUS_00&DEV_0A&FUNC_00"
MODEL_KEY = r"Enum\MODEMWAVE\Quorvane_TQ72_PCI_Voice_Modem"
MODEL_INSTANCE = "0000"
CLASS_ROOT = r"System\CurrentControlSet\Services\Class"

HKLM = "HKEY_LOCAL_MACHINE"
HKU = "HKEY_USERS"


# ---------------------------------------------------------------- registry

class Key:
    def __init__(self, name):
        self.name = name
        self.values = []          # (name or None for @, kind, data)
        self.children = {}        # lower-case name -> Key

    def child(self, name):
        low = name.lower()
        if low not in self.children:
            self.children[low] = Key(name)
        return self.children[low]


ROOTS = {HKLM: Key(HKLM), HKU: Key(HKU)}


def key(path, root=HKLM):
    k = ROOTS[root]
    for part in path.split("\\"):
        k = k.child(part)
    return k


def sz(path, name, text, root=HKLM):
    key(path, root).values.append((name, "sz", text))


def dword(path, name, number, root=HKLM):
    key(path, root).values.append((name, "dword", number))


def binary(path, name, data, root=HKLM):
    key(path, root).values.append((name, "hex", bytes(data)))


def expand_sz(path, name, text, root=HKLM):
    key(path, root).values.append((name, "hex(2)", text.encode("cp1252") + b"\0"))


def multi_sz(path, name, items, root=HKLM):
    data = b"".join(i.encode("cp1252") + b"\0" for i in items) + b"\0"
    key(path, root).values.append((name, "hex(7)", data))


def values(path, pairs, root=HKLM):
    """pairs: name -> str (string), int (dword), bytes (binary)."""
    for name, v in pairs:
        if isinstance(v, str):
            sz(path, name, v, root)
        elif isinstance(v, int):
            dword(path, name, v, root)
        else:
            binary(path, name, v, root)


def rand_bytes(n):
    return bytes(rng.randrange(256) for _ in range(n))


def guid():
    return "{%08X-%04X-%04X-%04X-%012X}" % (
        rng.getrandbits(32), rng.getrandbits(16), rng.getrandbits(16),
        rng.getrandbits(16), rng.getrandbits(48))


def quote(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def hex_lines(prefix, data):
    # regedit wraps hex data near 80 columns: ",\" ends a line, the next one
    # is indented by two blanks.
    lines = []
    line = prefix
    for i, b in enumerate(data):
        item = "%02x" % b + ("," if i + 1 < len(data) else "")
        if len(line) + len(item) > 77 and i > 0:
            lines.append(line + "\\")
            line = "  "
        line += item
    lines.append(line)
    return lines


def value_lines(name, kind, data):
    lhs = "@" if name is None else quote(name)
    if kind == "sz":
        return [lhs + "=" + quote(data)]
    if kind == "dword":
        return [lhs + "=dword:%08x" % data]
    return hex_lines(lhs + "=" + kind + ":", data)


def emit(k, path, out, keys):
    names = [(n or "@").lower() for n, _, _ in k.values]
    assert len(names) == len(set(names)), "duplicate value in " + path
    out.append("[" + path + "]")
    keys.append(path)
    for name, kind, data in k.values:
        out.extend(value_lines(name, kind, data))
    out.append("")
    for low in sorted(k.children):
        c = k.children[low]
        emit(c, path + "\\" + c.name, out, keys)


def registry_text():
    out = ["REGEDIT4", ""]
    keys = []
    for root in (HKLM, HKU):
        emit(ROOTS[root], root, out, keys)
    out.append("")
    return "\r\n".join(out).encode("cp1252"), keys


# ------------------------------------------------------------ the product

def product():
    cc = r"System\CurrentControlSet"
    # The product's own keys: read for the PNP ID, never removed.
    for path in (cc + r"\Services\TQ19KVN", r"Software\Quorvane\TQ19KVN"):
        values(path, [("PNP ID", PNP_ID), ("Version", "4.12.07"),
                      ("InstallDir", r"C:\WINDOWS\SYSTEM")])
    values(r"Software\Quorvane\TQ19KVN\Options",
           [("Speaker", 1), ("DistinctiveRing", 0), ("CountryCode", 0x31)])
    values(r"Software\Quorvane\QFaxCenter", [("Path", r"C:\Program Files\Quorvane\QFax"),
                                             ("Version", "2.0")])

    card = r"Enum\PCI" + "\\" + PNP_ID + "\\" + CARD_INSTANCE
    values(card, [
        ("DeviceDesc", "Quorvane TQ72 PCI Voice Modem"),
        ("Class", "Modem"),
        ("HardwareID", r"PCI\VEN_1F8C&DEV_0072&SUBSYS_00721F8C&REV_01,PCI\VEN_1F8C&DEV_0072&SUBSYS_00721F8C,PCI\VEN_1F8C&DEV_0072&REV_01,PCI\VEN_1F8C&DEV_0072"),
        ("CompatibleIDs", r"PCI\VEN_1F8C&DEV_0072&REV_01,PCI\VEN_1F8C&DEV_0072,PCI\VEN_1F8C&CC_078000,PCI\VEN_1F8C&CC_0780,PCI\CC_078000,PCI\CC_0780"),
        ("Mfg", "Quorvane"),
        ("ConfigFlags", bytes(4)),
        ("Capabilities", bytes([0x14, 0, 0, 0])),
        ("HWRevision", "001"),
        ("Driver", r"Modem\0000"),
        ("PortName", "COM3"),
        ("FriendlyName", "Quorvane TQ72 PCI Voice Modem"),
        ("BootConfig", bytes([0x00, 0x04, 0x00, 0x00]) + rand_bytes(76)),
    ])
    # A stale entry of an earlier install, enumerated without subsystem: a
    # prefix of the card's key name, and it must stay.
    values(r"Enum\PCI\VEN_1F8C&DEV_0072\BUS_00&DEV_0A&FUNC_00", [
        ("DeviceDesc", "PCI Communication Device"), ("Class", "Unknown"),
        ("HardwareID", r"PCI\VEN_1F8C&DEV_0072"), ("ConfigFlags", bytes([0x40, 0, 0, 0])),
    ])
    # The hardware profile's view of the card: not the card's key.
    values(r"Config\0001\Enum\PCI" + "\\" + PNP_ID + "\\" + CARD_INSTANCE,
           [("CSConfigFlags", bytes(4))])

    modem = CLASS_ROOT + r"\Modem\0000"
    values(modem, [
        ("AttachedTo", "COM3"), ("DriverDesc", "Quorvane TQ72 PCI Voice Modem"),
        ("InfPath", "QUORVANE.INF"), ("InfSection", "TQ72PCI"),
        ("ProviderName", "Quorvane"), ("Manufacturer", "Quorvane"),
        ("Model", "Quorvane TQ72 PCI Voice Modem"), ("FriendlyName", "Quorvane TQ72 PCI Voice Modem"),
        ("DevLoader", "*vcomm"), ("PortDriver", "serial.vxd"), ("Contention", "*vcd"),
        ("ConfigDialog", "modemui.dll"), ("EnumPropPages", "modemui.dll,EnumPropPages"),
        ("PortSubClass", bytes([0x02])), ("MatchingDeviceId", r"PCI\VEN_1F8C&DEV_0072&SUBSYS_00721F8C"),
        ("DriverDate", " 7-14-1999"), ("Reset", "ATZ<cr>"), ("VoiceProfile", bytes([0x21, 0x19, 0x0f, 0x00])),
        ("Properties", bytes([0x80, 0x01, 0, 0, 0xff, 0, 0, 0, 0xff, 0, 0, 0, 0x07, 0, 0, 0,
                              0x0f, 0, 0, 0, 0xf7, 0x03, 0, 0, 0x00, 0xc2, 0x01, 0x00,
                              0x80, 0xbb, 0, 0])),
        ("DCB", bytes([0x1c, 0, 0, 0, 0x00, 0xc2, 0x01, 0x00, 0x15, 0x20, 0, 0, 0, 0,
                       0x0a, 0, 0x0a, 0, 0x08, 0, 0, 0x11, 0x13, 0, 0, 0, 0, 0])),
        ("Default", bytes([0x3c, 0, 0, 0, 0x3c, 0, 0, 0])),
        ("VoiceSwitchFeature", bytes([0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00])),
    ])
    values(modem + r"\Init", [("1", "AT<cr>"), ("2", "AT &F E0 V1 &D2 &C1 S0=0<cr>")])
    values(modem + r"\Monitor", [("1", "ATS0=0<cr>"), ("2", "None")])
    values(modem + r"\Answer", [("1", "ATA<cr>")])
    values(modem + r"\Hangup", [("1", "ATH<cr>")])
    values(modem + r"\Settings", [
        ("Prefix", "AT"), ("Terminator", "<cr>"), ("DialPrefix", "D"), ("DialSuffix", ";"),
        ("SpeakerVolume_Low", "L0"), ("SpeakerVolume_Med", "L2"), ("SpeakerVolume_High", "L3"),
        ("SpeakerMode_Off", "M0"), ("SpeakerMode_Dial", "M1"), ("SpeakerMode_On", "M2"),
        ("FlowControl_Off", r"&K0"), ("FlowControl_Hard", r"&K3"), ("FlowControl_Soft", r"&K4"),
        ("ErrorControl_On", r"\N3"), ("ErrorControl_Off", r"\N0"), ("Compression_On", "%C1"),
        ("Blind_Off", "X4"), ("Blind_On", "X3"), ("InactivityTimeout", "S30=<#>"),
    ])
    responses = [("<cr><lf>OK<cr><lf>", [0, 0]), ("<cr><lf>RING<cr><lf>", [8, 0]),
                 ("<cr><lf>NO CARRIER<cr><lf>", [4, 0]), ("<cr><lf>ERROR<cr><lf>", [3, 0]),
                 ("<cr><lf>NO DIALTONE<cr><lf>", [5, 0]), ("<cr><lf>BUSY<cr><lf>", [6, 0]),
                 ("<cr><lf>CONNECT<cr><lf>", [2, 0]), ("<cr><lf>CONNECT 33600<cr><lf>", [2, 0]),
                 ("<cr><lf>CONNECT 56000/V90<cr><lf>", [2, 1]), ('"DATA"', [2, 0]),
                 ("\\PROTOCOL: LAPM", [1, 2])]
    for name, head in responses:
        binary(modem + r"\Responses", name, bytes(head) + bytes(8))
    values(modem + r"\Fax", [("FixModemClass", "1"), ("FixSerialSpeed", "57600")])
    values(modem + r"\VoiceView", [("Enable", "0")])

    # The modem's wave device: one of the five models is installed.
    values(MODEL_KEY + "\\" + MODEL_INSTANCE, [
        ("DeviceDesc", "Quorvane TQ72 PCI Voice Modem Wave Device"), ("Class", "MEDIA"),
        ("HardwareID", r"MODEMWAVE\Quorvane_TQ72_PCI_Voice_Modem"), ("Mfg", "Quorvane"),
        ("ConfigFlags", bytes(4)), ("Driver", r"MEDIA\0003"),
    ])
    wave = CLASS_ROOT + r"\MEDIA\0003"
    values(wave, [
        ("DriverDesc", "Quorvane TQ72 PCI Voice Modem Wave Device"), ("InfPath", "QVNWAVE.INF"),
        ("InfSection", "TQ72Wave"), ("ProviderName", "Quorvane"), ("DevLoader", "mmdevldr.vxd"),
        ("Driver", "serwvdrv.drv"), ("DriverDate", " 7-14-1999"),
    ])
    values(wave + r"\Drivers", [("SubClasses", "wave")])
    values(wave + r"\Drivers\wave\serwvdrv.drv", [
        ("Driver", "serwvdrv.drv"), ("Description", "Quorvane TQ72 PCI Voice Modem Wave Device")])

    values(cc + r"\Control\MediaResources\Wave\Serwvdrv.drv<0000>", [
        ("Active", "1"), ("Description", "Quorvane TQ72 PCI Voice Modem Wave Device"),
        ("DevNode", rand_bytes(4)), ("Driver", "serwvdrv.drv"),
        ("FriendlyName", "Quorvane TQ72 PCI Voice Modem Wave Device"),
    ])
    values(r"Software\Microsoft\Windows\CurrentVersion\Uninstall\TQ19KVN", [
        ("DisplayName", "Quorvane TQ72 PCI Modem"),
        ("UninstallString", r"C:\WINDOWS\SYSTEM\quninst.exe"),
    ])
    for f in ("quninst.exe", "qvnvcd.vxd", "tq72pci.vxd", "tq72pci1.vxd", "tqc.cpl"):
        dword(r"Software\Microsoft\Windows\CurrentVersion\SharedDLLs",
              "C:\\WINDOWS\\SYSTEM\\" + f, 1)
    values(r"Software\Microsoft\Windows\CurrentVersion\Controls Folder\tqc.cpl",
           [(None, "Quorvane Modem Settings")])
    values(r"Software\Quorvane\TQ19KVN\LastDial", [("Number", "555-0142"), ("Redial", 3)], root=HKU)

    return [
        r"HKEY_LOCAL_MACHINE\Enum\PCI" + "\\" + PNP_ID,
        r"HKEY_LOCAL_MACHINE" + "\\" + CLASS_ROOT + r"\Modem\0000",
        r"HKEY_LOCAL_MACHINE" + "\\" + MODEL_KEY,
        r"HKEY_LOCAL_MACHINE" + "\\" + CLASS_ROOT + r"\MEDIA\0003",
        r"HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\MediaResources\Wave\Serwvdrv.drv<0000>",
        r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall\TQ19KVN",
    ]


# ---------------------------------------------------------- the rest of it

PCI_DEVICES = [
    ("VEN_8086&DEV_7190&SUBSYS_00000000&REV_03", "BUS_00&DEV_00&FUNC_00", "System", "PCI standard host CPU bridge"),
    ("VEN_8086&DEV_7191&SUBSYS_00000000&REV_03", "BUS_00&DEV_01&FUNC_00", "System", "PCI standard PCI-to-PCI bridge"),
    ("VEN_8086&DEV_7110&SUBSYS_00000000&REV_02", "BUS_00&DEV_07&FUNC_00", "System", "PCI standard ISA bridge"),
    ("VEN_8086&DEV_7111&SUBSYS_00000000&REV_01", "BUS_00&DEV_07&FUNC_01", "hdc", "Standard Dual PCI IDE Controller"),
    ("VEN_8086&DEV_7112&SUBSYS_00000000&REV_01", "BUS_00&DEV_07&FUNC_02", "USB", "Standard Universal PCI to USB Host Controller"),
    ("VEN_8086&DEV_7113&SUBSYS_00000000&REV_02", "BUS_00&DEV_07&FUNC_03", "System", "PCI standard PCI power management controller"),
    ("VEN_1274&DEV_1371&SUBSYS_13711274&REV_06", "BUS_00&DEV_09&FUNC_00", "MEDIA", "Sound Blaster PCI Audio Device"),
    ("VEN_10EC&DEV_8139&SUBSYS_813910EC&REV_10", "BUS_00&DEV_0B&FUNC_00", "Net", "PCI Fast Ethernet Adapter"),
    ("VEN_12D2&DEV_0018&SUBSYS_00000000&REV_10", "BUS_01&DEV_00&FUNC_00", "Display", "Standard PCI Graphics Adapter (VGA)"),
]

BIOS_DEVICES = [
    ("*PNP0000", "Programmable interrupt controller"), ("*PNP0100", "System timer"),
    ("*PNP0200", "Direct memory access controller"), ("*PNP0303", "Standard 101/102-Key or Microsoft Natural Keyboard"),
    ("*PNP0400", "ECP Printer Port (LPT1)"), ("*PNP0501", "Communications Port (COM1)"),
    ("*PNP0700", "Standard Floppy Disk Controller"), ("*PNP0800", "System speaker"),
    ("*PNP0A03", "PCI bus"), ("*PNP0B00", "System CMOS/real time clock"),
    ("*PNP0C01", "System board"), ("*PNP0C02", "Motherboard resources"),
    ("*PNP0C04", "Numeric data processor"), ("*PNP0F13", "Standard PS/2 Port Mouse"),
    ("*PNP0E00", "IRQ Holder for PCI Steering"),
]

# Class name -> (description, installer, instances)
CLASSES = {
    "Modem": ("Modem", "modemui.dll,ClassInstall", 2),
    "MEDIA": ("Sound, video and game controllers", "mmci.dll", 5),
    "Display": ("Display adapters", "setupx.dll,Display_ClassInstaller", 1),
    "Net": ("Network adapters", "netdi.dll,NetClassInstaller", 3),
    "NetTrans": ("Network Protocol", "netdi.dll,NetClassInstaller", 4),
    "NetClient": ("Network Client", "netdi.dll,NetClassInstaller", 2),
    "NetService": ("Network Service", "netdi.dll,NetClassInstaller", 1),
    "Ports": ("Ports (COM & LPT)", "", 3),
    "hdc": ("Hard disk controllers", "", 3),
    "fdc": ("Floppy disk controllers", "", 1),
    "System": ("System devices", "", 24),
    "Monitor": ("Monitors", "", 1),
    "Mouse": ("Mouse", "", 1),
    "Keyboard": ("Keyboard", "", 1),
    "DiskDrive": ("Disk drives", "", 3),
    "CDROM": ("CDROM", "", 1),
    "USB": ("Universal serial bus controller", "", 2),
    "Printer": ("Printer", "msprint.dll,ClassInstall", 1),
}

SOFTWARE_VENDORS = ["Brightwell Systems", "Corvid Software", "Fennimore Labs", "Halcyon Graphics",
                    "Juniper Soft", "Kestrel Data", "Lumen Games", "Marlowe & Finch",
                    "Northgate Tools", "Orrin Media"]

EXTENSIONS = ["txt", "doc", "wri", "bmp", "gif", "jpg", "htm", "html", "ini", "inf", "reg",
              "bat", "com", "exe", "dll", "hlp", "cnt", "wav", "mid", "avi", "zip", "pcx",
              "rtf", "url", "lnk", "scr", "ttf", "fon", "cpl", "drv", "vxd", "log", "csv",
              "xls", "ppt", "mdb", "pdf", "mov", "mpg", "au", "aif", "cda", "rmi", "tif",
              "ico", "cur", "ani", "pif", "msi", "cab", "chm", "js", "vbs", "wsh", "css"]

DLLS = ["shell32.dll", "ole32.dll", "oleaut32.dll", "mshtml.dll", "shdocvw.dll", "urlmon.dll",
        "quartz.dll", "msxml.dll", "comctl32.dll", "shdoc401.dll", "inetcpl.cpl", "amstream.dll",
        "devenum.dll", "dxtmsft.dll", "mlang.dll", "msvbvm60.dll", "scrrun.dll", "vbscript.dll",
        "jscript.dll", "wininet.dll", "msdxm.ocx", "cdfview.dll", "occache.dll", "webcheck.dll"]


def devices():
    for pnp, inst, cls, desc in PCI_DEVICES:
        values(r"Enum\PCI" + "\\" + pnp + "\\" + inst, [
            ("DeviceDesc", desc), ("Class", cls), ("Mfg", "(Standard system devices)"),
            ("HardwareID", "PCI\\" + pnp + ",PCI\\" + pnp.rsplit("&", 1)[0]),
            ("ConfigFlags", bytes(4)), ("Capabilities", bytes([0x14, 0, 0, 0])),
            ("HWRevision", "0" + pnp[-2:]), ("Driver", "%s\\%04d" % (cls, rng.randrange(1, 4))),
            ("BootConfig", rand_bytes(rng.choice((40, 72, 120)))),
        ])
    for i, (pnp, desc) in enumerate(BIOS_DEVICES):
        values(r"Enum\BIOS" + "\\" + pnp + "\\%02X" % (0x0C + i), [
            ("DeviceDesc", desc), ("Class", "System"), ("HardwareID", pnp),
            ("Mfg", "(Standard system devices)"), ("ConfigFlags", bytes(4)),
            ("Driver", "System\\%04d" % i), ("BootConfig", rand_bytes(32)),
        ])
    values(r"Enum\Root\*PNP0C01\0000", [("DeviceDesc", "System board extension for PnP BIOS"),
                                         ("Class", "System"), ("Driver", r"System\0020")])
    values(r"Enum\Root\Net\0000", [("DeviceDesc", "Dial-Up Adapter"), ("Class", "Net"),
                                    ("Driver", r"Net\0001"), ("MasterCopy", r"Enum\Root\Net\0000")])
    values(r"Enum\Root\Printer\0000", [("DeviceDesc", "Generic / Text Only"), ("Class", "Printer"),
                                        ("Driver", r"Printer\0000")])
    values(r"Enum\MONITOR\DEFAULT_MONITOR\0001&00", [("DeviceDesc", "Plug and Play Monitor"),
                                                      ("Class", "Monitor"), ("Driver", r"Monitor\0000")])
    values(r"Enum\HTREE\ROOT\0", [("DeviceDesc", "Root of hardware tree")])
    values(r"Enum\HTREE\RESERVED\0", [("DeviceDesc", "Reserved for hardware tree")])
    for i, proto in enumerate(("MSTCP", "NWLINK", "NETBEUI", "VREDIR", "NWREDIR", "VSERVER")):
        values(r"Enum\Network" + "\\" + proto + "\\%04d" % 0, [
            ("DeviceDesc", proto), ("Class", "NetTrans" if i < 3 else "NetClient"),
            ("Driver", "%s\\%04d" % ("NetTrans" if i < 3 else "NetClient", i % 2)),
            ("MasterCopy", r"Enum\Network" + "\\" + proto + r"\0000")])
    values(r"Enum\ESDI\GENERIC_IDE__DISK_TYPE47_\MF&CHILD0000&PCI&VEN_8086&DEV_7111&BUS_00&DEV_07&FUNC_01",
           [("DeviceDesc", "GENERIC IDE  DISK TYPE47"), ("Class", "DiskDrive"),
            ("Driver", r"DiskDrive\0000"), ("CurrentDriveLetterAssignment", "C"),
            ("Removable", bytes([0])), ("Int13", bytes([1]))])
    values(r"Enum\SCSI\ATAPI___CD-ROM_DRIVE-32X\MF&CHILD0001&PCI&VEN_8086&DEV_7111&BUS_00&DEV_07&FUNC_01",
           [("DeviceDesc", "ATAPI    CD-ROM DRIVE-32X"), ("Class", "CDROM"), ("Driver", r"CDROM\0000"),
            ("CurrentDriveLetterAssignment", "D")])
    values(r"Enum\FLOP\GENERIC_NEC__FLOPPY_DISK_\BIOS&*PNP0700&0000",
           [("DeviceDesc", "GENERIC NEC  FLOPPY DISK"), ("Class", "DiskDrive"), ("Driver", r"DiskDrive\0001"),
            ("CurrentDriveLetterAssignment", "A")])
    values(r"Enum\USB\ROOT_HUB\PCI&VEN_8086&DEV_7112&BUS_00&DEV_07&FUNC_020000",
           [("DeviceDesc", "USB Root Hub"), ("Class", "USB"), ("Driver", r"USB\0001")])
    values(r"Enum\LPTENUM\MICROSOFTRAWPORT\1C4E7A00", [("DeviceDesc", "Printer Port")])

    for cls, (desc, installer, count) in CLASSES.items():
        root = CLASS_ROOT + "\\" + cls
        values(root, [(None, desc), ("Icon", str(-rng.randrange(1, 30)))] +
               ([("Installer", installer)] if installer else []))
        for n in range(count):
            if (cls, n) in (("Modem", 0), ("MEDIA", 3)):
                continue    # the product's, written by product()
            if (cls, n) == ("Modem", 1):
                continue    # an external modem, written below
            inst = root + "\\%04d" % n
            values(inst, [("DriverDesc", "%s device %d" % (desc, n)), ("InfPath", "MACHINE.INF"),
                          ("InfSection", "%s_%d" % (cls.upper(), n)), ("ProviderName", "Microsoft"),
                          ("DriverDate", " 4-23-1999"), ("DevLoader", "*configmg")])
            if cls == "Display":
                for depth in ("4", "8", "16", "24", "32"):
                    for res in ("640,480", "800,600", "1024,768", "1152,864", "1280,1024"):
                        values(inst + r"\MODES" + "\\" + depth + "\\" + res, [])
                values(inst + r"\DEFAULT", [("drv", "vga.drv"), ("vdd", "*vdd"), ("RefreshRate", "-1")])
                values(inst + r"\INFO", [("ChipType", "VGA"), ("DACType", "8 bit")])
            if cls in ("Net", "NetTrans", "NetClient"):
                values(inst + r"\Ndi", [("DeviceID", "*%s%d" % (cls.upper(), n)), ("HelpText", "Network component %d." % n)])
                values(inst + r"\Ndi\Interfaces", [("DefUpper", "netbios,ipxodi"), ("LowerRange", "ndis3")])
                values(inst + r"\Ndi\Install", [(None, "%s.ndi" % cls.lower())])
                for p in range(6):
                    values(inst + r"\Ndi\params\param%d" % p, [("ParamDesc", "Parameter %d" % p),
                                                               ("type", "int"), ("default", str(p))])
                    values(inst + r"\Ndi\params\param%d\enum" % p, [("0", "Off"), ("1", "On")])
            if cls == "MEDIA" and n != 3:
                values(inst + r"\Drivers", [("SubClasses", "wave,midi,mixer")])
                for sub in ("wave", "midi", "mixer"):
                    values(inst + r"\Drivers" + "\\" + sub + r"\es1371.drv",
                           [("Driver", "es1371.drv"), ("Description", "Sound Blaster PCI")])
    values(CLASS_ROOT + r"\Modem\0001", [("AttachedTo", "COM1"), ("DriverDesc", "Standard 56000 bps V90 Modem"),
                                         ("Model", "Standard 56000 bps V90 Modem"), ("Reset", "ATZ<cr>")])
    values(CLASS_ROOT + r"\Modem\0001\Init", [("1", "AT<cr>"), ("2", "AT&F E0 V1 S0=0<cr>")])

    media = r"System\CurrentControlSet\Control\MediaResources"
    for kind in ("Wave", "midi", "mixer", "aux"):
        values(media + "\\" + kind + r"\es1371.drv<0000>", [
            ("Active", "1"), ("Description", "Sound Blaster PCI"), ("Driver", "es1371.drv"),
            ("DevNode", rand_bytes(4)), ("FriendlyName", "Sound Blaster PCI")])
    values(media + r"\Wave\msacm.imaadpcm", [("Driver", "imaadp32.acm"), ("Description", "IMA ADPCM CODEC")])
    values(media + r"\msacm\msacm.imaadpcm", [("Driver", "imaadp32.acm"), ("Description", "IMA ADPCM CODEC")])
    values(media + r"\msacm\msacm.msadpcm", [("Driver", "msadp32.acm"), ("Description", "Microsoft ADPCM CODEC")])
    values(media + r"\msvideo\vids.iccvid", [("Driver", "iccvid.dll"), ("Description", "Cinepak Codec")])
    values(media + r"\MCI\AVIVideo", [("Driver", "mciavi.drv"), ("Description", "Video for Windows")])


def software():
    cv = r"Software\Microsoft\Windows\CurrentVersion"
    values(cv, [("ProductName", "Microsoft Windows 98"), ("Version", "Windows 98"),
                ("VersionNumber", "4.10.2222"), ("SubVersionNumber", " A "),
                ("RegisteredOwner", "Margit \"Maggie\" Sørensen"), ("RegisteredOrganization", "Høst & Co."),
                ("ProductId", "12345-OEM-0012345-67890"), ("SystemRoot", r"C:\WINDOWS"),
                ("DevicePath", r"C:\WINDOWS\INF;C:\WINDOWS\INF\OTHER"),
                ("ProgramFilesDir", r"C:\Program Files"), ("FirstInstallDateTime", rand_bytes(4)),
                ("MediaPath", r"C:\WINDOWS\MEDIA")])
    expand_sz(cv, "CommonFilesDir", r"%ProgramFiles%\Common Files")
    multi_sz(cv + r"\Setup", "SourcePathList", [r"D:\WIN98", r"C:\WINDOWS\OPTIONS\CABS"])
    values(cv + r"\Setup", [("SourcePath", "D:\\WIN98\\"), ("BootDir", "C:\\"),
                            ("WinbootDir", r"C:\WINDOWS"), ("SetupFlags", rand_bytes(4))])
    values(cv + r"\Run", [("SystemTray", "SysTray.Exe"), ("ScanRegistry", r"C:\WINDOWS\scanregw.exe /autorun"),
                          ("TaskMonitor", r"C:\WINDOWS\taskmon.exe"),
                          ("LoadPowerProfile", "Rundll32.exe powrprof.dll,LoadCurrentPwrScheme")])
    values(cv + r"\RunServices", [("SchedulingAgent", "mstask.exe")])
    for name in ("Brightwell Notes", "Corvid Paint 3", "Fennimore Zip", "Halcyon Viewer", "Juniper Mail",
                 "Kestrel Backup", "Lumen Pinball", "Orrin Player", "DirectX", "IE40", "MSPAINT",
                 "WinZip", "TQ19KVN Fax"):
        values(cv + r"\Uninstall" + "\\" + name, [
            ("DisplayName", name), ("UninstallString", r'"C:\Program Files\%s\uninst.exe" /u' % name.split()[0])])
    for i in range(60):
        exe = "app%02d.exe" % i
        values(cv + r"\App Paths" + "\\" + exe, [(None, r"C:\Program Files\App%02d\%s" % (i, exe)),
                                                  ("Path", r"C:\Program Files\App%02d;" % i)])
    shared = cv + r"\SharedDLLs"
    for dll in DLLS:
        dword(shared, "C:\\WINDOWS\\SYSTEM\\" + dll, rng.randrange(1, 9))
    values(cv + r"\Explorer\Shell Folders", [("Desktop", r"C:\WINDOWS\Desktop"),
                                              ("Programs", r"C:\WINDOWS\Start Menu\Programs"),
                                              ("Fonts", r"C:\WINDOWS\FONTS")])
    for i in range(80):
        g = guid()
        values(cv + r"\Shell Extensions\Approved", [(g, "Shell extension %d" % i)])
    for cpl in ("access.cpl", "appwiz.cpl", "desk.cpl", "joy.cpl", "main.cpl", "modem.cpl", "mmsys.cpl"):
        values(cv + r"\Controls Folder" + "\\" + cpl, [(None, cpl)])
    values(cv + r"\Internet Settings", [("User Agent", "Mozilla/4.0 (compatible; MSIE 5.0; Windows 98; DigExt)"),
                                        ("EnableHttp1_1", 1), ("ProxyEnable", bytes(4))])

    for ext in EXTENSIONS:
        prog = ext + "file"
        values(r"Software\Classes\." + ext, [(None, prog), ("Content Type", "application/x-" + ext)])
        values(r"Software\Classes" + "\\" + prog, [(None, ext.upper() + " File"), ("EditFlags", bytes(4))])
        values(r"Software\Classes" + "\\" + prog + r"\DefaultIcon", [(None, "C:\\WINDOWS\\SYSTEM\\shell32.dll,%d" % rng.randrange(60))])
        values(r"Software\Classes" + "\\" + prog + r"\shell\open\command", [(None, 'C:\\WINDOWS\\NOTEPAD.EXE "%1"')])
    for i in range(900):
        g = guid()
        base = r"Software\Classes\CLSID" + "\\" + g
        values(base, [(None, "COM object %d" % i)])
        values(base + r"\InprocServer32", [(None, "C:\\WINDOWS\\SYSTEM\\" + rng.choice(DLLS)),
                                           ("ThreadingModel", rng.choice(("Apartment", "Both")))])
        if i % 3 == 0:
            values(base + r"\ProgID", [(None, "Object.Class%d.1" % i)])
    for i in range(300):
        g = guid()
        values(r"Software\Classes\Interface" + "\\" + g, [(None, "IInterface%d" % i)])
        values(r"Software\Classes\Interface" + "\\" + g + r"\ProxyStubClsid32", [(None, "{00020424-0000-0000-C000-000000000046}")])
    for vendor in SOFTWARE_VENDORS:
        for p in range(4):
            base = "Software\\" + vendor + "\\Product%d\\%d.0" % (p, rng.randrange(1, 6))
            values(base, [("Path", "C:\\Program Files\\%s\\P%d" % (vendor.split()[0], p)),
                          ("Serial", "%06d" % rng.randrange(10 ** 6)), ("Flags", rng.randrange(2 ** 16))])
            values(base + r"\Recent File List", [("File%d" % n, "C:\\My Documents\\doc%d.txt" % n) for n in range(4)])
            binary(base + r"\Settings", "WindowPlacement", rand_bytes(44))
            binary(base + r"\Settings", "Toolbar", rand_bytes(rng.randrange(60, 300)))

    cc = r"System\CurrentControlSet"
    values(cc + r"\control\ComputerName\ComputerName", [("ComputerName", "FAMILY-PC")])
    values(cc + r"\control\TimeZoneInformation", [("StandardName", "W. Europe Standard Time"),
                                                   ("Bias", bytes([0xc4, 0xff, 0xff, 0xff]))])
    values(cc + r"\control\SessionManager\KnownDLLs", [(d.split(".")[0], d) for d in DLLS[:10]])
    values(cc + r"\control\Print\Printers\Generic / Text Only", [("Port", "LPT1:"), ("Attributes", bytes([0x40, 0x0a, 0, 0]))])
    for vxd in ("VCOMM", "VCD", "VMOUSE", "VNETSUP", "MSTCP", "NWLINK", "VREDIR", "IOS", "VFAT", "VCACHE",
                "CONFIGMG", "NTKERN", "VDD", "VFLATD", "VJOYD", "Ndis", "PPPMAC", "VDHCP"):
        values(cc + r"\Services\VxD" + "\\" + vxd, [("Start", bytes([0])), ("StaticVxD", "*" + vxd.lower())])
    values(cc + r"\Services\Arbitrators\IOArb", [("Owner", "ConfigMG")])
    values(cc + r"\Services\RemoteAccess", [("Remote Connection", bytes(4))])
    values(r"Hardware\DeviceMap\SerialComm", [("COM1", "COM1"), ("COM2", "COM2"), ("COM3", "COM3")])
    values(r"Hardware\Description\System\FloatingPointProcessor\0", [])
    values(r"Hardware\Description\System\CentralProcessor\0", [("Identifier", "x86 Family 6 Model 8 Stepping 3"),
                                                                ("VendorIdentifier", "GenuineIntel")])
    values(r"Security\Provider", [("Platform_Type", 0)])
    values(r"Config\0001\Display\Settings", [("Resolution", "800,600"), ("BitsPerPixel", "16"),
                                             ("fonts.fon", "vgasys.fon"), ("DPILogicalX", "96")])

    # The default user.
    for name in ("ActiveBorder", "ActiveTitle", "AppWorkSpace", "Background", "ButtonFace", "ButtonText",
                 "Menu", "MenuText", "Window", "WindowText", "TitleText", "Scrollbar"):
        sz(r".DEFAULT\Control Panel\Colors", name, "%d %d %d" % (rng.randrange(256), rng.randrange(256),
                                                                 rng.randrange(256)), HKU)
    for app in (".Default", "Explorer", "SndRec32", "MPlayer"):
        for event in ("Open", "Close", "Maximize", "Minimize", "SystemStart", "SystemExit", "MailBeep"):
            base = r".DEFAULT\AppEvents\Schemes\Apps" + "\\" + app + "\\" + event
            values(base + r"\.Current", [(None, "C:\\WINDOWS\\MEDIA\\%s.wav" % event)], HKU)
            values(base + r"\.Default", [(None, "C:\\WINDOWS\\MEDIA\\%s.wav" % event)], HKU)
    values(r".DEFAULT\Software\Microsoft\Windows\CurrentVersion\Explorer", [("ShellState", rand_bytes(20))], HKU)
    values(r".DEFAULT\Control Panel\Desktop", [("Wallpaper", "(None)"), ("ScreenSaveActive", "1"),
                                               ("ScreenSaveTimeOut", "900")], HKU)
    values(r".DEFAULT\Keyboard Layout\Preload\1", [(None, "00000409")], HKU)
    values(r".DEFAULT\RemoteAccess\Profile\Quorvane Online", [("Phone", "555-0100"), ("Device", "Quorvane TQ72 PCI Voice Modem")], HKU)


# ------------------------------------------------------------------ files

def fake_binary(magic, size):
    return magic + rand_bytes(size - len(magic))


def mz(size):
    head = bytearray(rand_bytes(64))
    head[0:2] = b"MZ"
    return bytes(head) + rand_bytes(size - 64)


PRODUCT_FILES = {
    "WINDOWS/SYSTEM/quninst.exe": lambda: mz(9216),
    "WINDOWS/SYSTEM/qvnvcd.vxd": lambda: mz(6144),
    "WINDOWS/SYSTEM/tq72pci.vxd": lambda: mz(28672),
    "WINDOWS/SYSTEM/tq72pci1.vxd": lambda: mz(14336),
    "WINDOWS/SYSTEM/tqc.cpl": lambda: mz(11264),
    "WINDOWS/Help/tqc.hlp": lambda: fake_binary(b"?_\x03\x00", 7424),
}

OTHER_FILES = {
    "WINDOWS/SYSTEM/vjoyd.vxd": lambda: mz(2048),
    "WINDOWS/SYSTEM/msmouse.vxd": lambda: mz(2048),
    "WINDOWS/SYSTEM/es1371.vxd": lambda: mz(4096),
    "WINDOWS/SYSTEM/serwave.vxd": lambda: mz(3072),
    "WINDOWS/SYSTEM/serwvdrv.drv": lambda: mz(3072),
    "WINDOWS/SYSTEM/es1371.drv": lambda: mz(2560),
    "WINDOWS/SYSTEM/mmsound.drv": lambda: mz(1536),
    "WINDOWS/SYSTEM/modemui.dll": lambda: mz(4096),
    "WINDOWS/SYSTEM/serialui.dll": lambda: mz(2048),
    "WINDOWS/SYSTEM/modem.cpl": lambda: mz(2048),
    "WINDOWS/SYSTEM/joy.cpl": lambda: mz(2048),
    "WINDOWS/SYSTEM/main.cpl": lambda: mz(3072),
    "WINDOWS/SYSTEM/mmsys.cpl": lambda: mz(3072),
    "WINDOWS/SYSTEM/IOSUBSYS/esdi_506.pdr": lambda: mz(2048),
    "WINDOWS/Help/windows.hlp": lambda: fake_binary(b"?_\x03\x00", 4096),
    "WINDOWS/Help/modem.hlp": lambda: fake_binary(b"?_\x03\x00", 2048),
    "WINDOWS/Help/joy.hlp": lambda: fake_binary(b"?_\x03\x00", 1024),
    "WINDOWS/INF/OTHER/QUORVANETQ72.INF": lambda: (
        "[Version]\r\nSignature=\"$CHICAGO$\"\r\nClass=Modem\r\nProvider=%Quorvane%\r\n\r\n"
        "[Strings]\r\nQuorvane=\"Quorvane\"\r\n").encode("cp1252"),
    "WINDOWS/WIN.INI": lambda: (
        "[windows]\r\nload=\r\nrun=\r\nNullPort=None\r\ndevice=Generic / Text Only,TTY,LPT1:\r\n\r\n"
        "[Desktop]\r\nWallpaper=(None)\r\nTileWallpaper=0\r\n\r\n[intl]\r\niCountry=45\r\n\r\n"
        "[Ports]\r\nCOM1:=9600,n,8,1,x\r\nCOM2:=9600,n,8,1,x\r\nCOM3:=9600,n,8,1,x\r\nLPT1:=\r\n").encode("cp1252"),
}

# SYSTEM.INI as lines; the ones holding the modem's VxD are marked.
SYSTEM_INI = """[boot]
oemfonts.fon=vgaoem.fon
shell=Explorer.exe
system.drv=system.drv
drivers=mmsystem.dll power.drv
user.exe=user.exe
gdi.exe=gdi.exe
sound.drv=mmsound.drv
dibeng.drv=dibeng.dll
comm.drv=comm.drv
mouse.drv=mouse.drv
keyboard.drv=keyboard.drv
*DisplayFallback=0
fonts.fon=vgasys.fon
fixedfon.fon=vgafix.fon
386Grabber=vgafull.3gr
display.drv=pnpdrvr.drv
SCRNSAVE.EXE=C:\\WINDOWS\\SYSTEM\\BLANKS~1.SCR

[keyboard]
subtype=
type=4
keyboard.dll=
oemansi.bin=

[boot.description]
keyboard.typ=Standard 101/102-Key or Microsoft Natural Keyboard
mouse.drv=Standard mouse
aspect=100,96,96
display.drv=Standard PCI Graphics Adapter (VGA)

[386Enh]
ebios=*ebios
woafont=dosapp.fon
mouse=*vmouse, msmouse.vxd
device=*dynapage
device=*vcd
device=*vpd
device=*int13
device=*enable
; qvnvcd.vxd: TQ72 voice COM port, added by Quorvane setup
device=qvnvcd.vxd
keyboard=*vkd
display=*vdd,*vflatd
EMMExclude=C800-CFFF
COM3Irq=10
COM3Base=E400

[NonWindowsApp]
CommandEnvSize=1024

[power.drv]

[drivers]
wavemapper=*.drv
MSACM.imaadpcm=*.acm
MSACM.msadpcm=*.acm

[iccvid.drv]

[mciavi.drv]

[drivers32]
msacm.imaadpcm=imaadp32.acm
msacm.msadpcm=msadp32.acm
vidc.iv41=ir41_32.ax
vidc.cvid=iccvid.dll

[MCI]
MPEGVideo=mciqtz.drv

[Password Lists]

[Quorvane]
Port=COM3
VCD=qvnvcd.vxd
"""


def system_ini():
    lines = SYSTEM_INI.split("\n")[:-1]
    before = "".join(line + "\r\n" for line in lines)
    # A confirmed run puts two blanks, without line end, in place of each
    # line that names the VxD: the next line carries on after them.
    after = "".join("  " if "qvnvcd" in line else line + "\r\n" for line in lines)
    return before.encode("cp1252"), after.encode("cp1252")


# ------------------------------------------------------------------- main

def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def main():
    repo = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(repo, "demo")
    expected = os.path.join(repo, "tests", "e2e", "expected")

    removed = product()
    devices()
    software()
    text, keys = registry_text()

    if os.path.isdir(out):
        shutil.rmtree(out)
    write(os.path.join(out, "registry.reg"), text)
    for rel, make in list(PRODUCT_FILES.items()) + list(OTHER_FILES.items()):
        write(os.path.join(out, rel), make())
    before, after = system_ini()
    write(os.path.join(out, "WINDOWS", "SYSTEM.INI"), before)

    gone = sorted(k for k in keys
                  if any(k.lower() == r.lower() or k.lower().startswith(r.lower() + "\\") for r in removed))
    write(os.path.join(expected, "removed-keys.txt"), "".join(k + "\n" for k in gone).encode("cp1252"))
    write(os.path.join(expected, "SYSTEM.INI"), after)
    print("%s: %d keys, %d bytes of registry; %d keys removed by a confirmed run"
          % (out, len(keys), len(text), len(gone)))


if __name__ == "__main__":
    main()
