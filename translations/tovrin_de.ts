<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de" sourcelanguage="en">
<context>
    <name>CoreTexts</name>
    <message>
        <source>Discovery runs again on %1.</source>
        <translation>Die Suche läuft wieder auf %1.</translation>
    </message>
    <message>
        <source>Discovery stopped: the receive channel on %1 failed.</source>
        <translation>Suche angehalten: Der Empfangskanal auf %1 ist ausgefallen.</translation>
    </message>
    <message>
        <source>Discovery stopped: the interface %1 is gone.</source>
        <translation>Suche angehalten: Die Netzwerkschnittstelle %1 ist nicht mehr vorhanden.</translation>
    </message>
    <message>
        <source>Discovery stopped: %1</source>
        <translation>Suche angehalten: %1</translation>
    </message>
    <message>
        <source>%1 (any address)</source>
        <translation>%1 (jede Adresse)</translation>
    </message>
    <message>
        <source>any address</source>
        <translation>jede Adresse</translation>
    </message>
    <message>
        <source>The channel is already open.</source>
        <translation>Der Kanal ist bereits geöffnet.</translation>
    </message>
    <message>
        <source>Settings sent to %1; waiting for its answer after the reboot...</source>
        <translation>Einstellungen an %1 gesendet; warte auf seine Antwort nach dem Neustart...</translation>
    </message>
    <message>
        <source>Change took effect: %1 answers again, on DHCP at %2.</source>
        <translation>Änderung wirksam: %1 antwortet wieder, per DHCP unter %2.</translation>
    </message>
    <message>
        <source>Change took effect: %1 answers as %2.</source>
        <translation>Änderung wirksam: %1 antwortet als %2.</translation>
    </message>
    <message>
        <source>Change not confirmed in %1 s: %2 has been silent since; before: %3.</source>
        <translation>Änderung nach %1 s nicht bestätigt: %2 schweigt seitdem; vorher: %3.</translation>
    </message>
    <message>
        <source>Change not confirmed in %1 s: %2 last reported %3.</source>
        <translation>Änderung nach %1 s nicht bestätigt: %2 meldete zuletzt %3.</translation>
    </message>
    <message>
        <source>IP Address &quot;%1&quot; is not a dotted IPv4 address.</source>
        <translation>IP-Adresse „%1“ ist keine IPv4-Adresse in Punktschreibweise.</translation>
    </message>
    <message>
        <source>Netmask &quot;%1&quot; is not a dotted IPv4 address.</source>
        <translation>Netzmaske „%1“ ist keine IPv4-Adresse in Punktschreibweise.</translation>
    </message>
    <message>
        <source>Netmask &quot;%1&quot; is not a valid netmask (its ones must be contiguous).</source>
        <translation>Netzmaske „%1“ ist keine gültige Netzmaske (ihre Einsen müssen lückenlos aufeinander folgen).</translation>
    </message>
    <message>
        <source>Default Gateway &quot;%1&quot; is not a dotted IPv4 address.</source>
        <translation>Standard-Gateway „%1“ ist keine IPv4-Adresse in Punktschreibweise.</translation>
    </message>
    <message>
        <source>File %1 is too large to upload (%2 bytes, at most %3).</source>
        <translation>Die Datei %1 ist zu groß zum Hochladen (%2 Bytes, höchstens %3).</translation>
    </message>
    <message>
        <source>File %1 is not a regular file (a folder, a device or a pipe) and cannot be uploaded.</source>
        <translation>Die Datei %1 ist keine reguläre Datei (ein Ordner, ein Gerät oder eine Pipe) und kann nicht hochgeladen werden.</translation>
    </message>
    <message>
        <source>The file name holds a line break or another control character and cannot be announced.</source>
        <translation>Der Dateiname enthält einen Zeilenumbruch oder ein anderes Steuerzeichen und kann nicht angekündigt werden.</translation>
    </message>
    <message>
        <source>Loading file %1 failed.</source>
        <translation>Laden der Datei %1 fehlgeschlagen.</translation>
    </message>
    <message>
        <source>Loaded file %1 (%2 bytes).</source>
        <translation>Datei %1 geladen (%2 Bytes).</translation>
    </message>
    <message>
        <source>Stopped before connecting.</source>
        <translation>Vor dem Verbinden angehalten.</translation>
    </message>
    <message>
        <source>Stopped while connecting to %1.</source>
        <translation>Beim Verbinden mit %1 angehalten.</translation>
    </message>
    <message>
        <source>Connecting to %1 failed.</source>
        <translation>Verbindung mit %1 fehlgeschlagen.</translation>
    </message>
    <message>
        <source>Connected to %1 ...</source>
        <translation>Verbunden mit %1 ...</translation>
    </message>
    <message>
        <source>Disconnected from %1.</source>
        <translation>Verbindung mit %1 getrennt.</translation>
    </message>
    <message>
        <source>Stopped while waiting for the version reply.</source>
        <translation>Beim Warten auf die Versionsantwort angehalten.</translation>
    </message>
    <message>
        <source>Stopped while waiting for the reply to the announcement.</source>
        <translation>Beim Warten auf die Antwort auf die Ankündigung angehalten.</translation>
    </message>
    <message>
        <source>Stopped while waiting for the final reply.</source>
        <translation>Beim Warten auf die abschließende Antwort angehalten.</translation>
    </message>
    <message>
        <source>Reply timeout!</source>
        <translation>Zeitüberschreitung bei der Antwort!</translation>
    </message>
    <message>
        <source>Unexpected Reply!</source>
        <translation>Unerwartete Antwort!</translation>
    </message>
    <message>
        <source>Sending failed after %1 of %2 bytes: the amplifier took no data for %3 s.</source>
        <translation>Senden nach %1 von %2 Bytes fehlgeschlagen: Der Verstärker hat %3 s lang keine Daten angenommen.</translation>
    </message>
    <message>
        <source>Sending failed after %1 of %2 bytes: the amplifier closed the connection.</source>
        <translation>Senden nach %1 von %2 Bytes fehlgeschlagen: Der Verstärker hat die Verbindung geschlossen.</translation>
    </message>
    <message>
        <source>Sending failed after %1 of %2 bytes: %3.</source>
        <translation>Senden nach %1 von %2 Bytes fehlgeschlagen: %3.</translation>
    </message>
    <message>
        <source>Reading file %1 failed after %2 of %3 bytes: %4.</source>
        <translation>Lesen der Datei %1 nach %2 von %3 Bytes fehlgeschlagen: %4.</translation>
    </message>
    <message>
        <source>File %1 changed size while it was sent (now more than %2 bytes); the upload is incomplete.</source>
        <translation>Die Datei %1 hat beim Senden ihre Größe geändert (jetzt mehr als %2 Bytes); das Hochladen ist unvollständig.</translation>
    </message>
    <message>
        <source>File %1 changed size while it was sent (now fewer than %2 bytes); the upload is incomplete.</source>
        <translation>Die Datei %1 hat beim Senden ihre Größe geändert (jetzt weniger als %2 Bytes); das Hochladen ist unvollständig.</translation>
    </message>
    <message>
        <source>Stopped after %1 of %2 bytes.</source>
        <translation>Nach %1 von %2 Bytes angehalten.</translation>
    </message>
    <message>
        <source>Sending done.</source>
        <translation>Senden abgeschlossen.</translation>
    </message>
    <message>
        <source>%1 bytes in %2 s (%3 MB/s)</source>
        <translation>%1 Bytes in %2 s (%3 MB/s)</translation>
    </message>
    <message>
        <source>Not a regular file</source>
        <translation>Keine reguläre Datei</translation>
    </message>
    <message>
        <source>%1 (the editor opens files of up to 16 MiB)</source>
        <translation>%1 (der Editor öffnet Dateien bis 16 MiB)</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is not an internet address.</source>
        <translation>„%1“ ist keine Internetadresse.</translation>
    </message>
    <message>
        <source>socket() failed.</source>
        <translation>socket() fehlgeschlagen.</translation>
    </message>
    <message>
        <source>bind() failed: %1</source>
        <translation>bind() fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>eventfd() failed: %1</source>
        <translation>eventfd() fehlgeschlagen: %1</translation>
    </message>
    <message>
        <source>setsockopt(%1) failed. WSAError:%2</source>
        <translation>setsockopt(%1) fehlgeschlagen. WSAError:%2</translation>
    </message>
    <message>
        <source>No terminal program was found ($TERMINAL, x-terminal-emulator, xterm, ...).</source>
        <translation>Kein Terminalprogramm gefunden ($TERMINAL, x-terminal-emulator, xterm, ...).</translation>
    </message>
    <message>
        <source>The desktop&apos;s opener &quot;%1&quot; was not found.</source>
        <translation>Das Öffnungsprogramm des Desktops „%1“ wurde nicht gefunden.</translation>
    </message>
</context>
<context>
    <name>FormUpload</name>
    <message>
        <source>FormUpload</source>
        <translation>Datei hochladen</translation>
    </message>
    <message>
        <source>&amp;Target Address:</source>
        <translation>Ziel&amp;adresse:</translation>
    </message>
    <message>
        <source>Source Filename:</source>
        <translation>Quelldatei:</translation>
    </message>
    <message>
        <source>...</source>
        <translation>...</translation>
    </message>
    <message>
        <source>Browse</source>
        <translation>Durchsuchen</translation>
    </message>
    <message>
        <source>Choose the file to upload</source>
        <translation>Die hochzuladende Datei auswählen</translation>
    </message>
    <message>
        <source>&amp;Target Path:</source>
        <translation>Ziel&amp;pfad:</translation>
    </message>
    <message>
        <source>/tmp/</source>
        <translation>/tmp/</translation>
    </message>
    <message>
        <source>Upload</source>
        <translation>Hochladen</translation>
    </message>
    <message>
        <source>Send the source file to the target address; while it runs, stop it</source>
        <translation>Die Quelldatei an die Zieladresse senden; während es läuft: anhalten</translation>
    </message>
    <message>
        <source>Upload Progress</source>
        <translation>Fortschritt des Hochladens</translation>
    </message>
    <message>
        <source>Upload Log</source>
        <translation>Protokoll des Hochladens</translation>
    </message>
    <message>
        <source>Every step of the uploads, newest last</source>
        <translation>Jeder Schritt des Hochladens, der neueste zuletzt</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>Cannot open file &quot;%1&quot;. %2</source>
        <translation>Die Datei „%1“ kann nicht geöffnet werden. %2</translation>
    </message>
    <message>
        <source>Open Explorer here</source>
        <translation>Dateimanager hier öffnen</translation>
    </message>
    <message>
        <source>Open Command Line here</source>
        <translation>Terminal hier öffnen</translation>
    </message>
    <message>
        <source>No terminal program was found on this computer. Install one (for example xterm), or name it in the environment variable TERMINAL.</source>
        <translation>Auf diesem Computer wurde kein Terminalprogramm gefunden. Installieren Sie eines (zum Beispiel xterm) oder nennen Sie es in der Umgebungsvariablen TERMINAL.</translation>
    </message>
    <message>
        <source>Folder Properties</source>
        <translation>Ordnereigenschaften</translation>
    </message>
    <message>
        <source>Path:</source>
        <translation>Pfad:</translation>
    </message>
    <message>
        <source>Owner:</source>
        <translation>Eigentümer:</translation>
    </message>
    <message>
        <source>Permissions:</source>
        <translation>Rechte:</translation>
    </message>
    <message>
        <source>Modified:</source>
        <translation>Geändert:</translation>
    </message>
    <message>
        <source>Entries:</source>
        <translation>Einträge:</translation>
    </message>
    <message>
        <source>cannot be read</source>
        <translation>nicht lesbar</translation>
    </message>
    <message>
        <source>Error:</source>
        <translation>Fehler:</translation>
    </message>
</context>
<context>
    <name>TAmplifierListModel</name>
    <message>
        <source>MAC-Suffix</source>
        <translation>MAC-Suffix</translation>
    </message>
    <message>
        <source>IP-Address</source>
        <translation>IP-Adresse</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
</context>
<context>
    <name>TFormGotoProj</name>
    <message>
        <source>Projekt suchen</source>
        <translation>Projekt suchen</translation>
    </message>
    <message>
        <source>&amp;Suchmuster: (z.B. &quot;1395&quot; oder &quot;14*QTRX&quot;):</source>
        <translation>&amp;Suchmuster: (z.B. &quot;1395&quot; oder &quot;14*QTRX&quot;):</translation>
    </message>
    <message>
        <source>&amp;Paste SN</source>
        <translation>SN &amp;holen</translation>
    </message>
    <message>
        <source>Search for the serial number on the clipboard</source>
        <translation>Nach der Seriennummer in der Zwischenablage suchen</translation>
    </message>
    <message>
        <source>&amp;Clear</source>
        <translation>&amp;Leeren</translation>
    </message>
    <message>
        <source>Empty the search pattern</source>
        <translation>Das Suchmuster leeren</translation>
    </message>
    <message>
        <source>&amp;Gefundene Verzeichnisnamen:</source>
        <translation>&amp;Gefundene Verzeichnisnamen:</translation>
    </message>
    <message>
        <source>Gefundene Verzeichnisnamen</source>
        <translation>Gefundene Verzeichnisnamen</translation>
    </message>
    <message>
        <source>Folders found for the search pattern; the Menu key opens the actions for the selected one</source>
        <translation>Die zum Suchmuster gefundenen Ordner; die Menütaste öffnet die Aktionen für den ausgewählten</translation>
    </message>
    <message>
        <source>&amp;OK</source>
        <translation>&amp;OK</translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation>&amp;Abbrechen</translation>
    </message>
    <message>
        <source>Open &amp;Explorer here</source>
        <translation>&amp;Dateimanager hier öffnen</translation>
    </message>
    <message>
        <source>Open Command &amp;Line here</source>
        <translation>&amp;Terminal hier öffnen</translation>
    </message>
    <message>
        <source>Copy &amp;Path</source>
        <translation>&amp;Pfad kopieren</translation>
    </message>
    <message>
        <source>Copy Path in &quot;&amp;Quotes&quot;</source>
        <translation>Pfad in „&amp;Anführungszeichen“ kopieren</translation>
    </message>
    <message>
        <source>Copy Project &amp;Number (%1)</source>
        <translation>Projekt&amp;nummer kopieren (%1)</translation>
    </message>
    <message>
        <source>Folder Properties</source>
        <translation>Ordnereigenschaften</translation>
    </message>
    <message>
        <source>The search is still running. Press OK again to wait for it.</source>
        <translation>Die Suche läuft noch. Drücken Sie erneut OK, um auf sie zu warten.</translation>
    </message>
</context>
<context>
    <name>TFormIpSettings</name>
    <message>
        <source>Amplifier IP Settings</source>
        <translation>IP-Einstellungen des Verstärkers</translation>
    </message>
    <message>
        <source>Amplifier IP Settings:</source>
        <translation>IP-Einstellungen des Verstärkers:</translation>
    </message>
    <message>
        <source>&amp;MAC-Suffix:</source>
        <translation>&amp;MAC-Suffix:</translation>
    </message>
    <message>
        <source>&amp;Name:</source>
        <translation>&amp;Name:</translation>
    </message>
    <message>
        <source>Use &amp;DHCP</source>
        <translation>&amp;DHCP verwenden</translation>
    </message>
    <message>
        <source>I&amp;P Address:</source>
        <translation>I&amp;P-Adresse:</translation>
    </message>
    <message>
        <source>Test...</source>
        <translation>Testen...</translation>
    </message>
    <message>
        <source>Send a command to the amplifier at this IP address and show its reply</source>
        <translation>Einen Befehl an den Verstärker unter dieser IP-Adresse senden und seine Antwort zeigen</translation>
    </message>
    <message>
        <source>&amp;Netmask:</source>
        <translation>N&amp;etzmaske:</translation>
    </message>
    <message>
        <source>Default &amp;Gateway (not required):</source>
        <translation>Standard-&amp;Gateway (optional):</translation>
    </message>
    <message>
        <source>Set Default</source>
        <translation>Standardwerte</translation>
    </message>
    <message>
        <source>Fill in the default address 192.168.1.253 and netmask 255.255.255.0</source>
        <translation>Die Standardadresse 192.168.1.253 und die Netzmaske 255.255.255.0 eintragen</translation>
    </message>
    <message>
        <source>KELD Network</source>
        <translation>KELD-Netzwerk</translation>
    </message>
    <message>
        <source>Fill in an address of the in-house network</source>
        <translation>Eine Adresse des Hausnetzes eintragen</translation>
    </message>
    <message>
        <source>&amp;OK</source>
        <translation>&amp;OK</translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation>&amp;Abbrechen</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Warnung</translation>
    </message>
    <message>
        <source>Please assert that a DHCP server is running in your LAN and you can retreive the IP address, that it will assign to the amplifier.</source>
        <translation>Bitte stellen Sie sicher, dass in Ihrem LAN ein DHCP-Server läuft und dass Sie die IP-Adresse herausfinden können, die er dem Verstärker zuweisen wird.</translation>
    </message>
    <message>
        <source>Information</source>
        <translation>Hinweis</translation>
    </message>
    <message>
        <source>Please use IP address from 10.255.252.180-189.</source>
        <translation>Bitte verwenden Sie eine IP-Adresse aus 10.255.252.180-189.</translation>
    </message>
    <message>
        <source>Command</source>
        <translation>Befehl</translation>
    </message>
    <message>
        <source>Enter Test Command to Amplifier</source>
        <translation>Testbefehl an den Verstärker eingeben</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
</context>
<context>
    <name>TFormMemo</name>
    <message>
        <source>Edit</source>
        <translation>Bearbeiten</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
    <message>
        <source>&amp;Edit</source>
        <translation>&amp;Bearbeiten</translation>
    </message>
    <message>
        <source>Text</source>
        <translation>Text</translation>
    </message>
    <message>
        <source>Tab types a tab character; Ctrl+Tab moves on to the buttons</source>
        <translation>Tab fügt ein Tabulatorzeichen ein; Strg+Tab springt zu den Schaltflächen</translation>
    </message>
    <message>
        <source>&amp;OK</source>
        <translation>&amp;OK</translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation>&amp;Abbrechen</translation>
    </message>
    <message>
        <source>&amp;Open...</source>
        <translation>Ö&amp;ffnen...</translation>
    </message>
    <message>
        <source>Ctrl+O</source>
        <translation>Ctrl+O</translation>
    </message>
    <message>
        <source>&amp;Save as...</source>
        <translation>&amp;Speichern unter...</translation>
    </message>
    <message>
        <source>Ctrl+S</source>
        <translation>Ctrl+S</translation>
    </message>
    <message>
        <source>Copy &amp;all</source>
        <translation>&amp;Alles kopieren</translation>
    </message>
    <message>
        <source>Ctrl+W</source>
        <translation>Ctrl+W</translation>
    </message>
    <message>
        <source>&amp;Paste over</source>
        <translation>&amp;Ersetzen durch Einfügen</translation>
    </message>
    <message>
        <source>Ctrl+P</source>
        <translation>Ctrl+P</translation>
    </message>
    <message>
        <source>&amp;Clear</source>
        <translation>&amp;Leeren</translation>
    </message>
    <message>
        <source>Ctrl+Q</source>
        <translation>Ctrl+Q</translation>
    </message>
    <message>
        <source>Save As</source>
        <translation>Speichern unter</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Öffnen</translation>
    </message>
    <message>
        <source>Cannot create file &quot;%1&quot;. %2</source>
        <translation>Die Datei „%1“ kann nicht angelegt werden. %2</translation>
    </message>
    <message>
        <source>Cannot open file &quot;%1&quot;. %2</source>
        <translation>Die Datei „%1“ kann nicht geöffnet werden. %2</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>Text Files (*.txt);;All Files (*)</source>
        <translation>Textdateien (*.txt);;Alle Dateien (*)</translation>
    </message>
</context>
<context>
    <name>TFormSelIpAddr</name>
    <message>
        <source>Select Local Interface</source>
        <translation>Netzwerkschnittstelle wählen</translation>
    </message>
    <message>
        <source>Local Interface Address:</source>
        <translation>Adresse der Netzwerkschnittstelle:</translation>
    </message>
    <message>
        <source>&amp;OK</source>
        <translation>&amp;OK</translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation>&amp;Abbrechen</translation>
    </message>
</context>
<context>
    <name>TFormTovrin</name>
    <message>
        <source>Select Amplifier</source>
        <translation>Verstärker auswählen</translation>
    </message>
    <message>
        <source>Amplifiers</source>
        <translation>Verstärker</translation>
    </message>
    <message>
        <source>MAC suffix, IP address and name of each amplifier found; the Menu key opens the actions for the selected one</source>
        <translation>MAC-Suffix, IP-Adresse und Name jedes gefundenen Verstärkers; die Menütaste öffnet die Aktionen für den ausgewählten</translation>
    </message>
    <message>
        <source>IP-&amp;Settings...</source>
        <translation>IP-&amp;Einstellungen...</translation>
    </message>
    <message>
        <source>Upload File...</source>
        <translation>Datei hochladen...</translation>
    </message>
    <message>
        <source>Configure this Menu...</source>
        <translation>Dieses Menü bearbeiten...</translation>
    </message>
    <message>
        <source>Copy IP-Address</source>
        <translation>IP-Adresse kopieren</translation>
    </message>
    <message>
        <source>Save List As...</source>
        <translation>Liste speichern unter...</translation>
    </message>
    <message>
        <source>Find...</source>
        <translation>Suchen...</translation>
    </message>
    <message>
        <source>Find Next</source>
        <translation>Weitersuchen</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>Cannot open the discovery channel &quot;%1&quot;.
%2</source>
        <translation>Der Suchkanal „%1“ kann nicht geöffnet werden.
%2</translation>
    </message>
    <message>
        <source>Find</source>
        <translation>Suchen</translation>
    </message>
    <message>
        <source>MAC suffix, IP address or name contains:</source>
        <translation>MAC-Suffix, IP-Adresse oder Name enthält:</translation>
    </message>
    <message>
        <source>No amplifier&apos;s MAC suffix, IP address or name contains &quot;%1&quot;.</source>
        <translation>Kein Verstärker enthält „%1“ in MAC-Suffix, IP-Adresse oder Name.</translation>
    </message>
    <message>
        <source>Cannot create file &quot;%1&quot;. %2</source>
        <translation>Die Datei „%1“ kann nicht angelegt werden. %2</translation>
    </message>
    <message>
        <source>Information</source>
        <translation>Hinweis</translation>
    </message>
    <message>
        <source>Restart program to make settings effect.</source>
        <translation>Starten Sie das Programm neu, damit die Einstellungen wirksam werden.</translation>
    </message>
    <message>
        <source>The selected amplifier&apos;s IP field &quot;%1&quot; is no IPv4 address. Nothing was run.</source>
        <translation>Das IP-Feld „%1“ des ausgewählten Verstärkers ist keine IPv4-Adresse. Es wurde nichts ausgeführt.</translation>
    </message>
    <message>
        <source>Enter IP Address</source>
        <translation>IP-Adresse eingeben</translation>
    </message>
    <message>
        <source>IP Address</source>
        <translation>IP-Adresse</translation>
    </message>
    <message>
        <source>Command Line</source>
        <translation>Befehlszeile</translation>
    </message>
    <message>
        <source>Enter Command Line</source>
        <translation>Befehlszeile eingeben</translation>
    </message>
    <message>
        <source>Save List As</source>
        <translation>Liste speichern unter</translation>
    </message>
    <message>
        <source>CSV files (*.csv);;All files (*)</source>
        <translation>CSV-Dateien (*.csv);;Alle Dateien (*)</translation>
    </message>
    <message>
        <source>Cannot save file &quot;%1&quot;. %2</source>
        <translation>Die Datei „%1“ kann nicht gespeichert werden. %2</translation>
    </message>
    <message>
        <source>Confirm</source>
        <translation>Bestätigen</translation>
    </message>
    <message>
        <source>The settings were not sent: the discovery channel is not open.</source>
        <translation>Die Einstellungen wurden nicht gesendet: Der Suchkanal ist nicht geöffnet.</translation>
    </message>
    <message>
        <source>The amplifier may become unreachable with these settings:

%1
Send them anyway? Choose No to correct them.</source>
        <translation>Mit diesen Einstellungen ist der Verstärker womöglich nicht mehr erreichbar:

%1
Trotzdem senden? Wählen Sie Nein, um sie zu korrigieren.</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Warnung</translation>
    </message>
    <message>
        <source>Apply settings? (Target will reboot, stand by)</source>
        <translation>Einstellungen übernehmen? (Das Ziel startet neu, bitte warten)</translation>
    </message>
    <message>
        <source>Search continued from the first row</source>
        <translation>Suche ab der ersten Zeile fortgesetzt</translation>
    </message>
    <message>
        <source>%1 went away before the operation started; nothing was done.</source>
        <translation>%1 ist verschwunden, bevor der Vorgang begann; es wurde nichts getan.</translation>
    </message>
    <message>
        <source>Copied %1</source>
        <translation>%1 kopiert</translation>
    </message>
    <message numerus="yes">
        <source>%n row(s) saved to %1</source>
        <translation>
            <numerusform>%n Zeile in %1 gespeichert</numerusform>
            <numerusform>%n Zeilen in %1 gespeichert</numerusform>
        </translation>
    </message>
    <message>
        <source>Amplifier %1</source>
        <translation>Verstärker %1</translation>
    </message>
    <message>
        <source>%1 appeared, selected</source>
        <translation>%1 erschienen, ausgewählt</translation>
    </message>
    <message>
        <source>%1 went away</source>
        <translation>%1 ist verschwunden</translation>
    </message>
</context>
<context>
    <name>TFormUpload</name>
    <message>
        <source>Open</source>
        <translation>Öffnen</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Anhalten</translation>
    </message>
    <message>
        <source>Upload</source>
        <translation>Hochladen</translation>
    </message>
    <message>
        <source>All Files (*)</source>
        <translation>Alle Dateien (*)</translation>
    </message>
    <message>
        <source>%1 of %2 bytes</source>
        <translation>%1 von %2 Bytes</translation>
    </message>
    <message>
        <source>Upload a file to the amplifier</source>
        <translation>Eine Datei auf den Verstärker hochladen</translation>
    </message>
    <message>
        <source>Stop: the upload runs, this button breaks it off</source>
        <translation>Anhalten: Das Hochladen läuft, diese Schaltfläche bricht es ab</translation>
    </message>
</context>
</TS>
