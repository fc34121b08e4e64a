<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>BatchRunner</name>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Converting</source>
        <extracomment>The progress bar while a batch&apos;s first items are converted.</extracomment>
        <translation>Umwandeln</translation>
    </message>
    <message>
        <source>Queued %1 of %2</source>
        <extracomment>The progress bar: objects put into the outbox so far.</extracomment>
        <translation>%1 von %2 im Postausgang</translation>
    </message>
    <message>
        <source>%1 of %2</source>
        <extracomment>The progress bar: objects sent or written so far.</extracomment>
        <translation>%1 von %2</translation>
    </message>
    <message>
        <source>Cancelling</source>
        <translation>Wird abgebrochen</translation>
    </message>
</context>
<context>
    <name>DeviceOptionsDialog</name>
    <message>
        <source>The scanner did not take the source &quot;%1&quot; (code %2).</source>
        <translation>Der Scanner hat die Quelle „%1“ nicht übernommen (Code %2).</translation>
    </message>
    <message>
        <source>The scanner&apos;s options could not be read after the change of source (code %1); the page area is checked again when the scan starts.</source>
        <translation>Die Einstellungen des Scanners ließen sich nach dem Wechsel der Quelle nicht lesen (Code %1); der Seitenbereich wird beim Start des Scans erneut geprüft.</translation>
    </message>
    <message>
        <source>Source:</source>
        <translation>Quelle:</translation>
    </message>
    <message>
        <source>Mode:</source>
        <translation>Modus:</translation>
    </message>
    <message>
        <source>Left:</source>
        <translation>Links:</translation>
    </message>
    <message>
        <source>Top:</source>
        <translation>Oben:</translation>
    </message>
    <message>
        <source>Right:</source>
        <translation>Rechts:</translation>
    </message>
    <message>
        <source>Bottom:</source>
        <translation>Unten:</translation>
    </message>
    <message>
        <source>Colour and resolution follow the scanner configuration.</source>
        <translation>Farbe und Auflösung folgen der Scanner-Konfiguration.</translation>
    </message>
</context>
<context>
    <name>DicomWebFields</name>
    <message>
        <source>Protocol</source>
        <translation>Protokoll</translation>
    </message>
    <message>
        <source>How the PACS is reached: DICOM (C-STORE, C-FIND) or DICOMweb</source>
        <translation>Wie das PACS erreicht wird: DICOM (C-STORE, C-FIND) oder DICOMweb</translation>
    </message>
    <message>
        <source>URL</source>
        <translation>URL</translation>
    </message>
    <message>
        <source>Login</source>
        <translation>Anmeldung</translation>
    </message>
    <message>
        <source>None</source>
        <extracomment>No login at the DICOMweb server.</extracomment>
        <translation>Keine</translation>
    </message>
    <message>
        <source>User and password</source>
        <translation>Benutzer und Passwort</translation>
    </message>
    <message>
        <source>Bearer token</source>
        <translation>Bearer-Token</translation>
    </message>
    <message>
        <source>User</source>
        <translation>Benutzer</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Passwort</translation>
    </message>
    <message>
        <source>Token</source>
        <translation>Token</translation>
    </message>
    <message>
        <source>CA file</source>
        <extracomment>The file of the certificate authorities the server&apos;s certificate is checked against.</extracomment>
        <translation>CA-Datei</translation>
    </message>
    <message>
        <source>the system&apos;s CA certificates</source>
        <translation>die CA-Zertifikate des Systems</translation>
    </message>
    <message>
        <source>Verify the server&apos;s certificate</source>
        <translation>Zertifikat des Servers prüfen</translation>
    </message>
    <message>
        <source>Time-out (s)</source>
        <extracomment>Seconds without an answer before a request is given up.</extracomment>
        <translation>Zeitlimit (s)</translation>
    </message>
    <message>
        <source>Allow the password over http:// (unencrypted)</source>
        <translation>Passwort über http:// erlauben (unverschlüsselt)</translation>
    </message>
    <message>
        <source>Over http:// anyone on the network can read the password; leave this off unless the server is on this computer or a closed network</source>
        <translation>Über http:// kann jeder im Netz das Passwort mitlesen; nur einschalten, wenn der Server auf diesem Rechner oder in einem geschlossenen Netz steht</translation>
    </message>
</context>
<context>
    <name>ItemStrip</name>
    <message>
        <source>cannot be decoded</source>
        <translation>nicht lesbar</translation>
    </message>
    <message>
        <source>IMG</source>
        <translation>BILD</translation>
    </message>
    <message>
        <source>TEXT</source>
        <translation>TEXT</translation>
    </message>
    <message>
        <source>PDF</source>
        <translation>PDF</translation>
    </message>
    <message>
        <source>Video</source>
        <translation>Video</translation>
    </message>
</context>
<context>
    <name>ItemStripView</name>
    <message>
        <source>Items</source>
        <extracomment>The strip of the list&apos;s files, for screen readers.</extracomment>
        <translation>Dateien</translation>
    </message>
</context>
<context>
    <name>OutboxIndicator</name>
    <message>
        <source>Outbox</source>
        <translation>Postausgang</translation>
    </message>
</context>
<context>
    <name>PatientForm</name>
    <message>
        <source>Patient Name</source>
        <translation>Patientenname</translation>
    </message>
    <message>
        <source>Patient ID</source>
        <translation>Patienten-ID</translation>
    </message>
    <message>
        <source>Patient Sex</source>
        <translation>Geschlecht</translation>
    </message>
    <message>
        <source>Male</source>
        <translation>Männlich</translation>
    </message>
    <message>
        <source>Female</source>
        <translation>Weiblich</translation>
    </message>
    <message>
        <source>Other</source>
        <translation>Divers</translation>
    </message>
    <message>
        <source>Patient BD / From</source>
        <extracomment>The birth date field, which is also the lower bound of a search&apos;s study dates.</extracomment>
        <translation>Geb.-Datum / Von</translation>
    </message>
    <message>
        <source>Modality</source>
        <translation>Modalität</translation>
    </message>
    <message>
        <source>ALL</source>
        <extracomment>The modality box&apos;s first item: every modality (the others are DICOM&apos;s own codes).</extracomment>
        <translation>ALLE</translation>
    </message>
    <message>
        <source>Accession Number</source>
        <translation>Auftragsnummer</translation>
    </message>
    <message>
        <source>Study Description</source>
        <translation>Studienbeschreibung</translation>
    </message>
    <message>
        <source>Study Date / To</source>
        <extracomment>The study date field, which is also the upper bound of a search&apos;s study dates.</extracomment>
        <translation>Studiendatum / Bis</translation>
    </message>
    <message>
        <source>unknown</source>
        <extracomment>The birth date field while no birth date is known.</extracomment>
        <translation>unbekannt</translation>
    </message>
</context>
<context>
    <name>PreviewView</name>
    <message>
        <source>Preview</source>
        <translation>Vorschau</translation>
    </message>
</context>
<context>
    <name>StripAndPreview</name>
    <message>
        <source>ERROR, can&apos;t process %1</source>
        <extracomment>%1 is a file&apos;s extension, such as .ODT.</extracomment>
        <translation>FEHLER, %1 kann nicht verarbeitet werden</translation>
    </message>
    <message>
        <source>This picture cannot be decoded:
%1</source>
        <translation>Dieses Bild kann nicht gelesen werden:
%1</translation>
    </message>
</context>
<context>
    <name>StudySearch</name>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>ID</source>
        <translation>ID</translation>
    </message>
    <message>
        <source>Sex</source>
        <translation>Geschl.</translation>
    </message>
    <message>
        <source>Birth Date</source>
        <translation>Geburtsdatum</translation>
    </message>
    <message>
        <source>Study Description</source>
        <translation>Studienbeschreibung</translation>
    </message>
    <message>
        <source>Study Date</source>
        <translation>Studiendatum</translation>
    </message>
    <message>
        <source>Accession N.</source>
        <translation>Auftragsnr.</translation>
    </message>
    <message>
        <source>Results</source>
        <translation>Ergebnisse</translation>
    </message>
    <message>
        <source>ERROR, couldn&apos;t connect to %1</source>
        <extracomment>%1 is the AE title or address of the PACS or worklist server.</extracomment>
        <translation>FEHLER, keine Verbindung zu %1</translation>
    </message>
</context>
<context>
    <name>TAcquisitionForm</name>
    <message>
        <source>Scan</source>
        <translation>Scannen</translation>
    </message>
    <message>
        <source>Configuration</source>
        <translation>Konfiguration</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Speichern</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Acquisition Form</source>
        <extracomment>The scanner window&apos;s title.</extracomment>
        <translation>Scannen</translation>
    </message>
    <message>
        <source>ERROR, acquiring image: %1</source>
        <extracomment>%1 is the failure&apos;s code, eight hexadecimal digits.</extracomment>
        <translation>FEHLER beim Scannen des Bildes: %1</translation>
    </message>
    <message>
        <source>Looking for scanners...</source>
        <translation>Scanner werden gesucht …</translation>
    </message>
    <message>
        <source>No Scanner Found</source>
        <translation>Kein Scanner gefunden</translation>
    </message>
    <message>
        <source>Opening scanner...</source>
        <translation>Scanner wird geöffnet …</translation>
    </message>
</context>
<context>
    <name>TConfigFrm</name>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Scanner Configuration</source>
        <translation>Scanner-Konfiguration</translation>
    </message>
    <message>
        <source>Color</source>
        <translation>Farbe</translation>
    </message>
    <message>
        <source>GrayScale</source>
        <translation>Graustufen</translation>
    </message>
    <message>
        <source>Colour:</source>
        <translation>Farbe:</translation>
    </message>
    <message>
        <source>Resolution (dpi):</source>
        <translation>Auflösung (dpi):</translation>
    </message>
</context>
<context>
    <name>TForm1</name>
    <message>
        <source>Installing the printer</source>
        <translation>Drucker wird eingerichtet</translation>
    </message>
    <message>
        <source>Please select a folder with DICOM objects:</source>
        <translation>Bitte einen Ordner für die DICOM-Objekte wählen:</translation>
    </message>
    <message>
        <source>Images (*.jpg *.bmp *png);;Text (*.doc *.docx *.rtf *.txt *.html);;PDF (*.pdf);;Video (*.mp4)</source>
        <extracomment>The file dialog&apos;s kinds of files; keep the patterns in brackets and the &quot;;;&quot; between kinds.</extracomment>
        <translation>Bilder (*.jpg *.bmp *png);;Text (*.doc *.docx *.rtf *.txt *.html);;PDF (*.pdf);;Video (*.mp4)</translation>
    </message>
    <message>
        <source>WARNING</source>
        <translation>WARNUNG</translation>
    </message>
    <message>
        <source>Have no filters
Search can take very long</source>
        <translation>Keine Filter gesetzt
Die Suche kann sehr lange dauern</translation>
    </message>
    <message>
        <source>Searching</source>
        <translation>Suche läuft</translation>
    </message>
    <message>
        <source>%1 (Esc stops)</source>
        <extracomment>The progress bar while the window waits for something: %1 says for what.</extracomment>
        <translation>%1 (Esc bricht ab)</translation>
    </message>
    <message>
        <source>VELLORAN V%1
DICOM Converter</source>
        <extracomment>The About box: the program&apos;s name and version, then what it is.</extracomment>
        <translation>VELLORAN V%1
DICOM-Konverter</translation>
    </message>
    <message>
        <source>ERROR, this copy of the program has no scanner support</source>
        <translation>FEHLER, diese Programmversion unterstützt keine Scanner</translation>
    </message>
    <message>
        <source>ERROR, already in the list</source>
        <translation>FEHLER, bereits in der Liste</translation>
    </message>
    <message>
        <source>ERROR, already in the list: %1</source>
        <extracomment>%1 names the files.</extracomment>
        <translation>FEHLER, bereits in der Liste: %1</translation>
    </message>
    <message>
        <source>Delete this image?</source>
        <translation>Dieses Bild entfernen?</translation>
    </message>
    <message>
        <source>A batch is still running.
Close the program when it has finished?</source>
        <translation>Ein Stapel läuft noch.
Das Programm schließen, wenn er fertig ist?</translation>
    </message>
    <message>
        <source>Finishing, then closing</source>
        <translation>Wird beendet, dann geschlossen</translation>
    </message>
    <message>
        <source>Search PACS</source>
        <extracomment>Searches the PACS (the picture archive) for studies.</extracomment>
        <translation>PACS suchen</translation>
    </message>
    <message>
        <source>Search WL</source>
        <extracomment>Searches the worklist (the scheduled procedures) for patients.</extracomment>
        <translation>Worklist suchen</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>Leeren</translation>
    </message>
    <message>
        <source>Setup</source>
        <extracomment>Opens the settings dialog.</extracomment>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Add File</source>
        <translation>Datei hinzufügen</translation>
    </message>
    <message>
        <source>Add Folder</source>
        <translation>Ordner hinzufügen</translation>
    </message>
    <message>
        <source>Scan</source>
        <extracomment>Opens the scanner window.</extracomment>
        <translation>Scannen</translation>
    </message>
    <message>
        <source>About</source>
        <translation>Info</translation>
    </message>
    <message>
        <source>Send</source>
        <extracomment>Sends the list&apos;s files to the PACS.</extracomment>
        <translation>Senden</translation>
    </message>
    <message>
        <source>Save To Folder</source>
        <translation>In Ordner speichern</translation>
    </message>
    <message>
        <source>End</source>
        <extracomment>Ends the program.</extracomment>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>Fortschritt</translation>
    </message>
</context>
<context>
    <name>TOutboxFrm</name>
    <message>
        <source>waiting</source>
        <translation>wartet</translation>
    </message>
    <message>
        <source>failed</source>
        <translation>fehlgeschlagen</translation>
    </message>
    <message>
        <source>stored</source>
        <extracomment>Stored on the PACS, which has not yet committed it.</extracomment>
        <translation>gespeichert</translation>
    </message>
    <message>
        <source>gone</source>
        <translation>erledigt</translation>
    </message>
    <message>
        <source>Outbox</source>
        <translation>Postausgang</translation>
    </message>
    <message>
        <source>Objects in the outbox</source>
        <translation>Objekte im Postausgang</translation>
    </message>
    <message>
        <source>State</source>
        <translation>Zustand</translation>
    </message>
    <message>
        <source>Cause</source>
        <translation>Ursache</translation>
    </message>
    <message>
        <source>Retry now</source>
        <translation>Jetzt erneut senden</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Entfernen</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Please select the objects to remove</source>
        <translation>Bitte die zu entfernenden Objekte auswählen</translation>
    </message>
    <message numerus="yes">
        <source>Remove %n objects from the outbox?
They will not be sent to the PACS.</source>
        <translation>
            <numerusform>%n Objekt aus dem Postausgang entfernen?
Es wird nicht an das PACS gesendet.</numerusform>
            <numerusform>%n Objekte aus dem Postausgang entfernen?
Sie werden nicht an das PACS gesendet.</numerusform>
        </translation>
    </message>
    <message>
        <source>WARNING</source>
        <translation>WARNUNG</translation>
    </message>
    <message>
        <source>Patient</source>
        <translation>Patient</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Datei</translation>
    </message>
    <message>
        <source>Kind</source>
        <translation>Art</translation>
    </message>
    <message>
        <source>Batch time</source>
        <translation>Stapelzeit</translation>
    </message>
    <message>
        <source>PACS</source>
        <translation>PACS</translation>
    </message>
    <message>
        <source>Send to the current PACS</source>
        <translation>An das aktuelle PACS senden</translation>
    </message>
    <message>
        <source>Objects that wait for another PACS than the one in the settings go to this one instead</source>
        <translation>Objekte, die auf ein anderes PACS als das der Einstellungen warten, gehen stattdessen an dieses</translation>
    </message>
    <message>
        <source>waiting for its PACS</source>
        <extracomment>An object that waits for another PACS than the one in the settings: the one it was sent to.</extracomment>
        <translation>wartet auf sein PACS</translation>
    </message>
    <message>
        <source>image</source>
        <translation>Bild</translation>
    </message>
    <message>
        <source>document</source>
        <translation>Dokument</translation>
    </message>
    <message>
        <source>PDF</source>
        <translation>PDF</translation>
    </message>
    <message>
        <source>video</source>
        <translation>Video</translation>
    </message>
    <message>
        <source>other</source>
        <translation>anderes</translation>
    </message>
    <message>
        <source>%1 · ID %2</source>
        <extracomment>A patient&apos;s name (%1) and ID (%2).</extracomment>
        <translation>%1 · ID %2</translation>
    </message>
    <message>
        <source>the PACS of the settings</source>
        <translation>das PACS der Einstellungen</translation>
    </message>
    <message numerus="yes">
        <source>%n attempts</source>
        <translation>
            <numerusform>%n Versuch</numerusform>
            <numerusform>%n Versuche</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n waiting for %1</source>
        <translation>
            <numerusform>%n wartet auf %1</numerusform>
            <numerusform>%n warten auf %1</numerusform>
        </translation>
    </message>
    <message>
        <source>No object here waits for another PACS</source>
        <translation>Hier wartet kein Objekt auf ein anderes PACS</translation>
    </message>
    <message numerus="yes">
        <source>Send %n objects meant for %1 to %2 instead?
They will not be sent to %1.</source>
        <translation>
            <numerusform>%n Objekt für %1 stattdessen an %2 senden?
Es wird nicht an %1 gesendet.</numerusform>
            <numerusform>%n Objekte für %1 stattdessen an %2 senden?
Sie werden nicht an %1 gesendet.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>TSetupFrm</name>
    <message>
        <source>Setup</source>
        <extracomment>The settings dialog&apos;s title.</extracomment>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Local</source>
        <extracomment>The tab of this workstation&apos;s own settings.</extracomment>
        <translation>Lokal</translation>
    </message>
    <message>
        <source>PACS</source>
        <translation>PACS</translation>
    </message>
    <message>
        <source>WL Server</source>
        <extracomment>The tab of the worklist server.</extracomment>
        <translation>Worklist-Server</translation>
    </message>
    <message>
        <source>Local AET</source>
        <extracomment>This workstation&apos;s own AE title.</extracomment>
        <translation>Eigener AET</translation>
    </message>
    <message>
        <source>Inst. Name:</source>
        <extracomment>The institution&apos;s name written into every object.</extracomment>
        <translation>Einrichtung:</translation>
    </message>
    <message>
        <source>Printer Port</source>
        <translation>Drucker-Port</translation>
    </message>
    <message>
        <source>The desktop&apos;s</source>
        <extracomment>The first choice of the window&apos;s language: whatever the desktop speaks.</extracomment>
        <translation>Die des Desktops</translation>
    </message>
    <message>
        <source>The window&apos;s language, from the next start of the program</source>
        <translation>Die Sprache des Fensters, ab dem nächsten Programmstart</translation>
    </message>
    <message>
        <source>Language</source>
        <extracomment>The window&apos;s language.</extracomment>
        <translation>Sprache</translation>
    </message>
    <message>
        <source>Debug logging</source>
        <translation>Ausführliches Protokoll</translation>
    </message>
    <message>
        <source>Keep camera JPEGs as they are</source>
        <translation>Kamera-JPEGs unverändert übernehmen</translation>
    </message>
    <message>
        <source>AET</source>
        <extracomment>The PACS&apos;s AE title.</extracomment>
        <translation>AET</translation>
    </message>
    <message>
        <source>IP Address</source>
        <translation>IP-Adresse</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>Test</source>
        <extracomment>Tests the connection to the server.</extracomment>
        <translation>Testen</translation>
    </message>
    <message>
        <source>Keep unsent objects in the outbox</source>
        <translation>Nicht gesendete Objekte im Postausgang behalten</translation>
    </message>
    <message>
        <source>Ask the PACS to commit stored objects (storage commitment)</source>
        <translation>Das PACS um Bestätigung der Speicherung bitten (Storage Commitment)</translation>
    </message>
    <message>
        <source>Commitment port</source>
        <extracomment>The port the PACS&apos;s storage commitment report comes to.</extracomment>
        <translation>Commitment-Port</translation>
    </message>
    <message>
        <source>The port on which this program takes the PACS&apos;s commitment report; empty: the report must come on the association that asked for it</source>
        <translation>Der Port, an dem dieses Programm den Commitment-Bericht des PACS annimmt; leer: der Bericht muss über die Assoziation kommen, die ihn angefordert hat</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>The commitment port &quot;%1&quot; is not a port number from 1 to 65535</source>
        <translation>Der Commitment-Port „%1“ ist keine Portnummer von 1 bis 65535</translation>
    </message>
    <message>
        <source>ERROR, the settings could not be written to %1</source>
        <translation>FEHLER, die Einstellungen konnten nicht in %1 geschrieben werden</translation>
    </message>
    <message>
        <source>The window speaks the chosen language from the next start.</source>
        <translation>Das Fenster spricht die gewählte Sprache ab dem nächsten Start.</translation>
    </message>
    <message>
        <source>%1 is up and running!</source>
        <extracomment>%1 is the AE title of the PACS or worklist server tested.</extracomment>
        <translation>%1 ist erreichbar und bereit!</translation>
    </message>
    <message>
        <source>ERROR, %1 does not answer!</source>
        <translation>FEHLER, %1 antwortet nicht!</translation>
    </message>
    <message>
        <source>printer application (IPP Everywhere)</source>
        <translation>Druckeranwendung (IPP Everywhere)</translation>
    </message>
    <message>
        <source>raw queue on the printer port</source>
        <translation>Raw-Warteschlange am Drucker-Port</translation>
    </message>
    <message>
        <source>Print capture</source>
        <translation>Druckerfassung</translation>
    </message>
</context>
<context>
    <name>UserMessage</name>
    <message numerus="yes">
        <source>%1 and %2 more</source>
        <extracomment>The first names of a long list of files, then how many more files there are.</extracomment>
        <translation>
            <numerusform>%1 und %2 weitere</numerusform>
            <numerusform>%1 und %2 weitere</numerusform>
        </translation>
    </message>
    <message>
        <source>%1: %2</source>
        <extracomment>A file, item or object (%1) and what became of it (%2).</extracomment>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>%1 (%2)</source>
        <extracomment>A file (%1) and why it gave no DICOM object (%2).</extracomment>
        <translation>%1 (%2)</translation>
    </message>
    <message>
        <source>Patient Name can&apos;t be empty</source>
        <translation>Der Patientenname darf nicht leer sein</translation>
    </message>
    <message>
        <source>Patient ID can&apos;t be empty</source>
        <translation>Die Patienten-ID darf nicht leer sein</translation>
    </message>
    <message>
        <source>No files to send</source>
        <translation>Keine Dateien zum Senden</translation>
    </message>
    <message>
        <source>Too many files in one batch (%1; at most %2)</source>
        <translation>Zu viele Dateien in einem Stapel (%1; höchstens %2)</translation>
    </message>
    <message>
        <source>Cannot number the batch: another program of this user holds %1 (waited %2 s). Please try again.</source>
        <extracomment>%1 is a file path, %2 a number of seconds.</extracomment>
        <translation>Der Stapel kann nicht nummeriert werden: ein anderes Programm dieses Benutzers hält %1 (%2 s gewartet). Bitte erneut versuchen.</translation>
    </message>
    <message>
        <source>Images sent OK</source>
        <translation>Bilder erfolgreich gesendet</translation>
    </message>
    <message>
        <source>ERROR Sending Images, please check Log file</source>
        <translation>FEHLER beim Senden der Bilder, bitte die Protokolldatei prüfen</translation>
    </message>
    <message numerus="yes">
        <source>%1 of %2 items were not sent: %3</source>
        <extracomment>%1 of %2 files of the list; %3 names them.</extracomment>
        <translation>
            <numerusform>%1 von %2 Dateien wurde nicht gesendet: %3</numerusform>
            <numerusform>%1 von %2 Dateien wurden nicht gesendet: %3</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1 of %2 items were not written: %3</source>
        <extracomment>%1 of %2 files of the list; %3 names them.</extracomment>
        <translation>
            <numerusform>%1 von %2 Dateien wurde nicht geschrieben: %3</numerusform>
            <numerusform>%1 von %2 Dateien wurden nicht geschrieben: %3</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Send cancelled: %1 of %2 items were stored: %3; the other %4 stay in the list.</source>
        <extracomment>%1 of %2 files of the list were stored on the PACS, %3 names them, %4 stay in the list.</extracomment>
        <translation>
            <numerusform>Senden abgebrochen: %1 von %2 Dateien wurde gespeichert: %3; die übrigen %4 bleiben in der Liste.</numerusform>
            <numerusform>Senden abgebrochen: %1 von %2 Dateien wurden gespeichert: %3; die übrigen %4 bleiben in der Liste.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Send cancelled: %1 of %2 items were stored; the other %3 stay in the list.</source>
        <translation>
            <numerusform>Senden abgebrochen: %1 von %2 Dateien wurde gespeichert; die übrigen %3 bleiben in der Liste.</numerusform>
            <numerusform>Senden abgebrochen: %1 von %2 Dateien wurden gespeichert; die übrigen %3 bleiben in der Liste.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Send cancelled: %1 of %2 items were put in the outbox: %3; the other %4 stay in the list.</source>
        <translation>
            <numerusform>Senden abgebrochen: %1 von %2 Dateien kam in den Postausgang: %3; die übrigen %4 bleiben in der Liste.</numerusform>
            <numerusform>Senden abgebrochen: %1 von %2 Dateien kamen in den Postausgang: %3; die übrigen %4 bleiben in der Liste.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Send cancelled: %1 of %2 items were put in the outbox; the other %3 stay in the list.</source>
        <translation>
            <numerusform>Senden abgebrochen: %1 von %2 Dateien kam in den Postausgang; die übrigen %3 bleiben in der Liste.</numerusform>
            <numerusform>Senden abgebrochen: %1 von %2 Dateien kamen in den Postausgang; die übrigen %3 bleiben in der Liste.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Save cancelled: %1 of %2 items were written: %3; the other %4 stay in the list.</source>
        <translation>
            <numerusform>Speichern abgebrochen: %1 von %2 Dateien wurde geschrieben: %3; die übrigen %4 bleiben in der Liste.</numerusform>
            <numerusform>Speichern abgebrochen: %1 von %2 Dateien wurden geschrieben: %3; die übrigen %4 bleiben in der Liste.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Save cancelled: %1 of %2 items were written; the other %3 stay in the list.</source>
        <translation>
            <numerusform>Speichern abgebrochen: %1 von %2 Dateien wurde geschrieben; die übrigen %3 bleiben in der Liste.</numerusform>
            <numerusform>Speichern abgebrochen: %1 von %2 Dateien wurden geschrieben; die übrigen %3 bleiben in der Liste.</numerusform>
        </translation>
    </message>
    <message>
        <source>no text</source>
        <extracomment>Why a document gave no DICOM object.</extracomment>
        <translation>kein Text</translation>
    </message>
    <message>
        <source>unknown kind</source>
        <extracomment>Why a file of the list gave no DICOM object: it is no picture, document, PDF or video.</extracomment>
        <translation>unbekannte Art</translation>
    </message>
    <message>
        <source>Cannot write &quot;%1&quot;; see the log for the reason</source>
        <translation>„%1“ kann nicht geschrieben werden; der Grund steht im Protokoll</translation>
    </message>
    <message>
        <source>Cannot write &quot;%1&quot;: %2</source>
        <extracomment>%1 is a file, %2 the system&apos;s reason.</extracomment>
        <translation>„%1“ kann nicht geschrieben werden: %2</translation>
    </message>
    <message>
        <source>Cannot write into &quot;%1&quot;: %2</source>
        <extracomment>%1 is a folder, %2 the system&apos;s reason.</extracomment>
        <translation>In „%1“ kann nicht geschrieben werden: %2</translation>
    </message>
    <message numerus="yes">
        <source>%1 objects queued in the outbox</source>
        <translation>
            <numerusform>%1 Objekt im Postausgang</numerusform>
            <numerusform>%1 Objekte im Postausgang</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>The PACS did not answer: %1 objects wait in the outbox and will be sent when it answers</source>
        <translation>
            <numerusform>Das PACS hat nicht geantwortet: %1 Objekt wartet im Postausgang und wird gesendet, sobald es antwortet</numerusform>
            <numerusform>Das PACS hat nicht geantwortet: %1 Objekte warten im Postausgang und werden gesendet, sobald es antwortet</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>The PACS stored %1 objects but has not committed them yet: they stay in the outbox until it does</source>
        <translation>
            <numerusform>Das PACS hat %1 Objekt gespeichert, die Speicherung aber noch nicht bestätigt: es bleibt bis dahin im Postausgang</numerusform>
            <numerusform>Das PACS hat %1 Objekte gespeichert, die Speicherung aber noch nicht bestätigt: sie bleiben bis dahin im Postausgang</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>The PACS stored %1 objects but has not committed them yet: they stay in the outbox until it does (%2)</source>
        <extracomment>%2 is the reason the PACS gave, or why no report came.</extracomment>
        <translation>
            <numerusform>Das PACS hat %1 Objekt gespeichert, die Speicherung aber noch nicht bestätigt: es bleibt bis dahin im Postausgang (%2)</numerusform>
            <numerusform>Das PACS hat %1 Objekte gespeichert, die Speicherung aber noch nicht bestätigt: sie bleiben bis dahin im Postausgang (%2)</numerusform>
        </translation>
    </message>
    <message>
        <source>PACS refused the AE title %1</source>
        <extracomment>%1 is this program&apos;s own AE title.</extracomment>
        <translation>Das PACS hat den AE-Titel %1 abgelehnt</translation>
    </message>
    <message>
        <source>The PACS at %1 is not called %2</source>
        <extracomment>%1 is host:port, %2 the AE title the PACS was called by.</extracomment>
        <translation>Das PACS unter %1 heißt nicht %2</translation>
    </message>
    <message>
        <source>The PACS at %1 is busy; try again later</source>
        <translation>Das PACS unter %1 ist ausgelastet; bitte später erneut versuchen</translation>
    </message>
    <message>
        <source>The PACS at %1 refused the connection</source>
        <translation>Das PACS unter %1 hat die Verbindung abgelehnt</translation>
    </message>
    <message>
        <source>The PACS at %1 did not answer</source>
        <translation>Das PACS unter %1 hat nicht geantwortet</translation>
    </message>
    <message>
        <source>The PACS at %1 did not accept the connection</source>
        <translation>Das PACS unter %1 hat die Verbindung nicht angenommen</translation>
    </message>
    <message>
        <source>The PACS at %1 closed the connection</source>
        <translation>Das PACS unter %1 hat die Verbindung geschlossen</translation>
    </message>
    <message>
        <source>the request could not be sent</source>
        <extracomment>Why an object was not stored.</extracomment>
        <translation>die Anfrage konnte nicht gesendet werden</translation>
    </message>
    <message>
        <source>the PACS gave no answer</source>
        <extracomment>Why an object was not stored.</extracomment>
        <translation>das PACS hat nicht geantwortet</translation>
    </message>
    <message>
        <source>Batch for %1 · ID %2</source>
        <extracomment>The line above Send: the patient&apos;s name (%1) and ID (%2) of the chosen search result.</extracomment>
        <translation>Stapel für %1 · ID %2</translation>
    </message>
    <message>
        <source>Batch for %1 · ID %2 · ACC %3</source>
        <extracomment>The line above Send: name, ID and accession number of the chosen search result.</extracomment>
        <translation>Stapel für %1 · ID %2 · Auftrag %3</translation>
    </message>
    <message numerus="yes">
        <source>Search stopped: %1; %2 entries shown</source>
        <extracomment>%1 says why; %2 rows of the result grid are shown.</extracomment>
        <translation>
            <numerusform>Suche abgebrochen: %1; %2 Eintrag angezeigt</numerusform>
            <numerusform>Suche abgebrochen: %1; %2 Einträge angezeigt</numerusform>
        </translation>
    </message>
    <message>
        <source>the PACS answered with the failure status 0x%1</source>
        <extracomment>%1 is a hexadecimal status code.</extracomment>
        <translation>das PACS hat mit dem Fehlerstatus 0x%1 geantwortet</translation>
    </message>
    <message>
        <source>the worklist server answered with the failure status 0x%1</source>
        <extracomment>%1 is a hexadecimal status code.</extracomment>
        <translation>der Worklist-Server hat mit dem Fehlerstatus 0x%1 geantwortet</translation>
    </message>
    <message>
        <source>the PACS ended the association</source>
        <translation>das PACS hat die Assoziation beendet</translation>
    </message>
    <message>
        <source>the worklist server ended the association</source>
        <translation>der Worklist-Server hat die Assoziation beendet</translation>
    </message>
    <message>
        <source>the PACS closed the connection</source>
        <translation>das PACS hat die Verbindung geschlossen</translation>
    </message>
    <message>
        <source>the worklist server closed the connection</source>
        <translation>der Worklist-Server hat die Verbindung geschlossen</translation>
    </message>
    <message>
        <source>the server stopped answering</source>
        <translation>der Server antwortet nicht mehr</translation>
    </message>
    <message>
        <source>the PACS stopped answering part-way</source>
        <translation>das PACS hat mittendrin aufgehört zu antworten</translation>
    </message>
    <message numerus="yes">
        <source>%1 waiting</source>
        <extracomment>The outbox line under the buttons: objects waiting to be sent.</extracomment>
        <translation>
            <numerusform>%1 wartet</numerusform>
            <numerusform>%1 warten</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1 awaiting commitment</source>
        <extracomment>The outbox line: objects stored whose storage commitment the PACS has not reported.</extracomment>
        <translation>
            <numerusform>%1 wartet auf Bestätigung</numerusform>
            <numerusform>%1 warten auf Bestätigung</numerusform>
        </translation>
    </message>
    <message>
        <source>sending</source>
        <extracomment>The outbox line: the objects are being sent now.</extracomment>
        <translation>wird gesendet</translation>
    </message>
    <message>
        <source>next try %1</source>
        <extracomment>The outbox line: %1 is the time of the next try.</extracomment>
        <translation>nächster Versuch %1</translation>
    </message>
    <message numerus="yes">
        <source>%1 failed</source>
        <extracomment>The outbox line: objects the PACS refused.</extracomment>
        <translation>
            <numerusform>%1 fehlgeschlagen</numerusform>
            <numerusform>%1 fehlgeschlagen</numerusform>
        </translation>
    </message>
    <message>
        <source>The AE title &quot;%1&quot; holds &quot;%2&quot;, which an AE title cannot carry (8-bit text only)</source>
        <extracomment>%1 is the typed AE title, %2 the character it cannot carry.</extracomment>
        <translation>Der AE-Titel „%1“ enthält „%2“, was ein AE-Titel nicht tragen kann (nur 8-Bit-Text)</translation>
    </message>
    <message>
        <source>not reached</source>
        <extracomment>Why a file of the list was not sent: a failure (a full disk) stopped the batch before it.</extracomment>
        <translation>nicht erreicht</translation>
    </message>
    <message numerus="yes">
        <source>%1 objects wait in the outbox and will be sent again: %2</source>
        <extracomment>%2 says why they were not stored (the server&apos;s answer did not confirm them, say).</extracomment>
        <translation>
            <numerusform>%1 Objekt wartet im Postausgang und wird erneut gesendet: %2</numerusform>
            <numerusform>%1 Objekte warten im Postausgang und werden erneut gesendet: %2</numerusform>
        </translation>
    </message>
    <message>
        <source>more matches than shown</source>
        <extracomment>Why a search stopped: the server has more matches than a search shows.</extracomment>
        <translation>mehr Treffer als angezeigt</translation>
    </message>
    <message numerus="yes">
        <source>%1 waiting for %2</source>
        <extracomment>The outbox line: objects waiting for another PACS (%2) than the one in the settings.</extracomment>
        <translation>
            <numerusform>%1 wartet auf %2</numerusform>
            <numerusform>%1 warten auf %2</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1 waiting objects were stored on %2</source>
        <extracomment>The outbox line, for a while: objects that had waited were stored on the PACS named %2.</extracomment>
        <translation>
            <numerusform>%1 wartendes Objekt wurde auf %2 gespeichert</numerusform>
            <numerusform>%1 wartende Objekte wurden auf %2 gespeichert</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>WindowLanguage</name>
    <message>
        <source>D</source>
        <comment>day in a date format</comment>
        <translation>T</translation>
    </message>
    <message>
        <source>M</source>
        <comment>month in a date format</comment>
        <translation>M</translation>
    </message>
    <message>
        <source>Y</source>
        <comment>year in a date format</comment>
        <translation>J</translation>
    </message>
</context>
</TS>
