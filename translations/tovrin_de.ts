<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de" sourcelanguage="en">
<context>
    <name>FormUpload</name>
    <message>
        <source>FormUpload</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Target Address:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Source Filename:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Browse</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Choose the file to upload</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Target Path:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>/tmp/</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Upload</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Send the source file to the target address; while it runs, stop it</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Upload Progress</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Upload Log</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Every step of the uploads, newest last</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Error</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cannot open file &quot;%1&quot;. %2</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>TAmplifierListModel</name>
    <message>
        <source>MAC-Suffix</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>IP-Address</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Name</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>TFormGotoProj</name>
    <message>
        <source>Projekt suchen</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Suchmuster: (z.B. &quot;1395&quot; oder &quot;14*QTRX&quot;):</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Paste SN</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Search for the serial number on the clipboard</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Clear</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Empty the search pattern</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Gefundene Verzeichnisnamen:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Gefundene Verzeichnisnamen</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Folders found for the search pattern; the Menu key opens the actions for the selected one</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;OK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>TFormIpSettings</name>
    <message>
        <source>Amplifier IP Settings</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Amplifier IP Settings:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;MAC-Suffix:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Name:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Use &amp;DHCP</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>I&amp;P Address:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Test...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Send a command to the amplifier at this IP address and show its reply</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Netmask:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Default &amp;Gateway (not required):</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Set Default</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Fill in the default address 192.168.1.253 and netmask 255.255.255.0</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>KELD Network</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Fill in an address of the in-house network</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;OK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>TFormMemo</name>
    <message>
        <source>Edit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Edit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Text</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Tab types a tab character; Ctrl+Tab moves on to the buttons</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;OK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Open...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ctrl+O</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Save as...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ctrl+S</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copy &amp;all</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ctrl+W</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Paste over</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ctrl+P</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Clear</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Ctrl+Q</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Save As</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cannot create file &quot;%1&quot;. %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cannot open file &quot;%1&quot;. %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Error</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>TFormSelIpAddr</name>
    <message>
        <source>Select Local Interface</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Local Interface Address:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;OK</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>TFormTovrin</name>
    <message>
        <source>Select Amplifier</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Amplifiers</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>MAC suffix, IP address and name of each amplifier found; the Menu key opens the actions for the selected one</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>IP-&amp;Settings...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Upload File...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Configure this Menu...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Copy IP-Address</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Save List As...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Find...</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Find Next</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Error</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cannot open the discovery channel &quot;%1&quot;.
%2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Find</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>MAC suffix, IP address or name contains:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No amplifier&apos;s MAC suffix, IP address or name contains &quot;%1&quot;.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cannot create file &quot;%1&quot;. %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Information</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Restart program to make settings effect.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The selected amplifier&apos;s IP field &quot;%1&quot; is no IPv4 address. Nothing was run.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Enter IP Address</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>IP Address</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Command Line</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Enter Command Line</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Save List As</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>CSV files (*.csv);;All files (*)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cannot save file &quot;%1&quot;. %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Confirm</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The settings were not sent: the discovery channel is not open.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>The amplifier may become unreachable with these settings:

%1
Send them anyway? Choose No to correct them.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Warning</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>TFormUpload</name>
    <message>
        <source>Open</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Stop</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Upload</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
