<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="es_ES">
<context>
    <name>BatchRunner</name>
    <message>
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message>
        <source>Converting</source>
        <extracomment>The progress bar while a batch&apos;s first items are converted.</extracomment>
        <translation>Convirtiendo</translation>
    </message>
    <message>
        <source>Queued %1 of %2</source>
        <extracomment>The progress bar: objects put into the outbox so far.</extracomment>
        <translation>%1 de %2 en la bandeja de salida</translation>
    </message>
    <message>
        <source>%1 of %2</source>
        <extracomment>The progress bar: objects sent or written so far.</extracomment>
        <translation>%1 de %2</translation>
    </message>
    <message>
        <source>Cancelling</source>
        <translation>Cancelando</translation>
    </message>
</context>
<context>
    <name>DeviceOptionsDialog</name>
    <message>
        <source>The scanner did not take the source &quot;%1&quot; (code %2).</source>
        <translation>El escáner no aceptó la fuente «%1» (código %2).</translation>
    </message>
    <message>
        <source>The scanner&apos;s options could not be read after the change of source (code %1); the page area is checked again when the scan starts.</source>
        <translation>No se pudieron leer las opciones del escáner tras el cambio de fuente (código %1); el área de la página se comprueba de nuevo al empezar el escaneo.</translation>
    </message>
    <message>
        <source>Source:</source>
        <translation>Fuente:</translation>
    </message>
    <message>
        <source>Mode:</source>
        <translation>Modo:</translation>
    </message>
    <message>
        <source>Left:</source>
        <translation>Izquierda:</translation>
    </message>
    <message>
        <source>Top:</source>
        <translation>Arriba:</translation>
    </message>
    <message>
        <source>Right:</source>
        <translation>Derecha:</translation>
    </message>
    <message>
        <source>Bottom:</source>
        <translation>Abajo:</translation>
    </message>
    <message>
        <source>Colour and resolution follow the scanner configuration.</source>
        <translation>El color y la resolución siguen la configuración del escáner.</translation>
    </message>
</context>
<context>
    <name>DicomWebFields</name>
    <message>
        <source>Protocol</source>
        <translation>Protocolo</translation>
    </message>
    <message>
        <source>How the PACS is reached: DICOM (C-STORE, C-FIND) or DICOMweb</source>
        <translation>Cómo se llega al PACS: DICOM (C-STORE, C-FIND) o DICOMweb</translation>
    </message>
    <message>
        <source>URL</source>
        <translation>URL</translation>
    </message>
    <message>
        <source>Login</source>
        <translation>Inicio de sesión</translation>
    </message>
    <message>
        <source>None</source>
        <extracomment>No login at the DICOMweb server.</extracomment>
        <translation>Ninguno</translation>
    </message>
    <message>
        <source>User and password</source>
        <translation>Usuario y contraseña</translation>
    </message>
    <message>
        <source>Bearer token</source>
        <translation>Token Bearer</translation>
    </message>
    <message>
        <source>User</source>
        <translation>Usuario</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Contraseña</translation>
    </message>
    <message>
        <source>Token</source>
        <translation>Token</translation>
    </message>
    <message>
        <source>CA file</source>
        <extracomment>The file of the certificate authorities the server&apos;s certificate is checked against.</extracomment>
        <translation>Archivo CA</translation>
    </message>
    <message>
        <source>the system&apos;s CA certificates</source>
        <translation>los certificados CA del sistema</translation>
    </message>
    <message>
        <source>Verify the server&apos;s certificate</source>
        <translation>Verificar el certificado del servidor</translation>
    </message>
    <message>
        <source>Time-out (s)</source>
        <extracomment>Seconds without an answer before a request is given up.</extracomment>
        <translation>Tiempo límite (s)</translation>
    </message>
    <message>
        <source>Allow the password over http:// (unencrypted)</source>
        <translation>Permitir la contraseña por http:// (sin cifrar)</translation>
    </message>
    <message>
        <source>Over http:// anyone on the network can read the password; leave this off unless the server is on this computer or a closed network</source>
        <translation>Por http:// cualquiera en la red puede leer la contraseña; actívelo solo si el servidor está en este equipo o en una red cerrada</translation>
    </message>
</context>
<context>
    <name>ItemStrip</name>
    <message>
        <source>cannot be decoded</source>
        <translation>ilegible</translation>
    </message>
    <message>
        <source>IMG</source>
        <translation>IMG</translation>
    </message>
    <message>
        <source>TEXT</source>
        <translation>TEXTO</translation>
    </message>
    <message>
        <source>PDF</source>
        <translation>PDF</translation>
    </message>
    <message>
        <source>Video</source>
        <translation>Vídeo</translation>
    </message>
</context>
<context>
    <name>ItemStripView</name>
    <message>
        <source>Items</source>
        <extracomment>The strip of the list&apos;s files, for screen readers.</extracomment>
        <translation>Archivos</translation>
    </message>
</context>
<context>
    <name>OutboxIndicator</name>
    <message>
        <source>Outbox</source>
        <translation>Bandeja de salida</translation>
    </message>
</context>
<context>
    <name>PatientForm</name>
    <message>
        <source>Patient Name</source>
        <translation>Nombre del paciente</translation>
    </message>
    <message>
        <source>Patient ID</source>
        <translation>ID del paciente</translation>
    </message>
    <message>
        <source>Patient Sex</source>
        <translation>Sexo</translation>
    </message>
    <message>
        <source>Male</source>
        <translation>Masculino</translation>
    </message>
    <message>
        <source>Female</source>
        <translation>Femenino</translation>
    </message>
    <message>
        <source>Other</source>
        <translation>Otro</translation>
    </message>
    <message>
        <source>Patient BD / From</source>
        <extracomment>The birth date field, which is also the lower bound of a search&apos;s study dates.</extracomment>
        <translation>F. nacim. / Desde</translation>
    </message>
    <message>
        <source>Modality</source>
        <translation>Modalidad</translation>
    </message>
    <message>
        <source>ALL</source>
        <extracomment>The modality box&apos;s first item: every modality (the others are DICOM&apos;s own codes).</extracomment>
        <translation>TODAS</translation>
    </message>
    <message>
        <source>Accession Number</source>
        <translation>N.º de acceso</translation>
    </message>
    <message>
        <source>Study Description</source>
        <translation>Descripción del estudio</translation>
    </message>
    <message>
        <source>Study Date / To</source>
        <extracomment>The study date field, which is also the upper bound of a search&apos;s study dates.</extracomment>
        <translation>F. estudio / Hasta</translation>
    </message>
    <message>
        <source>unknown</source>
        <extracomment>The birth date field while no birth date is known.</extracomment>
        <translation>desconocida</translation>
    </message>
</context>
<context>
    <name>PreviewView</name>
    <message>
        <source>Preview</source>
        <translation>Vista previa</translation>
    </message>
</context>
<context>
    <name>StripAndPreview</name>
    <message>
        <source>ERROR, can&apos;t process %1</source>
        <extracomment>%1 is a file&apos;s extension, such as .ODT.</extracomment>
        <translation>ERROR, no se puede procesar %1</translation>
    </message>
    <message>
        <source>This picture cannot be decoded:
%1</source>
        <translation>Esta imagen no se puede leer:
%1</translation>
    </message>
</context>
<context>
    <name>StudySearch</name>
    <message>
        <source>Name</source>
        <translation>Nombre</translation>
    </message>
    <message>
        <source>ID</source>
        <translation>ID</translation>
    </message>
    <message>
        <source>Sex</source>
        <translation>Sexo</translation>
    </message>
    <message>
        <source>Birth Date</source>
        <translation>Nacimiento</translation>
    </message>
    <message>
        <source>Study Description</source>
        <translation>Descripción del estudio</translation>
    </message>
    <message>
        <source>Study Date</source>
        <translation>Fecha del estudio</translation>
    </message>
    <message>
        <source>Accession N.</source>
        <translation>N.º de acceso</translation>
    </message>
    <message>
        <source>Results</source>
        <translation>Resultados</translation>
    </message>
    <message>
        <source>ERROR, couldn&apos;t connect to %1</source>
        <extracomment>%1 is the AE title or address of the PACS or worklist server.</extracomment>
        <translation>ERROR, no se pudo conectar con %1</translation>
    </message>
</context>
<context>
    <name>TAcquisitionForm</name>
    <message>
        <source>Scan</source>
        <translation>Escanear</translation>
    </message>
    <message>
        <source>Configuration</source>
        <translation>Configuración</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Guardar</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Cerrar</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message>
        <source>Acquisition Form</source>
        <extracomment>The scanner window&apos;s title.</extracomment>
        <translation>Escaneo</translation>
    </message>
    <message>
        <source>ERROR, acquiring image: %1</source>
        <extracomment>%1 is the failure&apos;s code, eight hexadecimal digits.</extracomment>
        <translation>ERROR al escanear la imagen: %1</translation>
    </message>
    <message>
        <source>Looking for scanners...</source>
        <translation>Buscando escáneres…</translation>
    </message>
    <message>
        <source>No Scanner Found</source>
        <translation>No se encontró ningún escáner</translation>
    </message>
    <message>
        <source>Opening scanner...</source>
        <translation>Abriendo el escáner…</translation>
    </message>
</context>
<context>
    <name>TConfigFrm</name>
    <message>
        <source>OK</source>
        <translation>Aceptar</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message>
        <source>Scanner Configuration</source>
        <translation>Configuración del escáner</translation>
    </message>
    <message>
        <source>Color</source>
        <translation>Color</translation>
    </message>
    <message>
        <source>GrayScale</source>
        <translation>Escala de grises</translation>
    </message>
    <message>
        <source>Colour:</source>
        <translation>Color:</translation>
    </message>
    <message>
        <source>Resolution (dpi):</source>
        <translation>Resolución (ppp):</translation>
    </message>
</context>
<context>
    <name>TForm1</name>
    <message>
        <source>Installing the printer</source>
        <translation>Instalando la impresora</translation>
    </message>
    <message>
        <source>Please select a folder with DICOM objects:</source>
        <translation>Seleccione una carpeta para los objetos DICOM:</translation>
    </message>
    <message>
        <source>Images (*.jpg *.bmp *png);;Text (*.doc *.docx *.rtf *.txt *.html);;PDF (*.pdf);;Video (*.mp4)</source>
        <extracomment>The file dialog&apos;s kinds of files; keep the patterns in brackets and the &quot;;;&quot; between kinds.</extracomment>
        <translation>Imágenes (*.jpg *.bmp *png);;Texto (*.doc *.docx *.rtf *.txt *.html);;PDF (*.pdf);;Vídeo (*.mp4)</translation>
    </message>
    <message>
        <source>WARNING</source>
        <translation>AVISO</translation>
    </message>
    <message>
        <source>Have no filters
Search can take very long</source>
        <translation>No hay filtros
La búsqueda puede tardar mucho</translation>
    </message>
    <message>
        <source>Searching</source>
        <translation>Buscando</translation>
    </message>
    <message>
        <source>%1 (Esc stops)</source>
        <extracomment>The progress bar while the window waits for something: %1 says for what.</extracomment>
        <translation>%1 (Esc detiene)</translation>
    </message>
    <message>
        <source>VELLORAN V%1
DICOM Converter</source>
        <extracomment>The About box: the program&apos;s name and version, then what it is.</extracomment>
        <translation>VELLORAN V%1
Conversor DICOM</translation>
    </message>
    <message>
        <source>ERROR, this copy of the program has no scanner support</source>
        <translation>ERROR, esta copia del programa no admite escáneres</translation>
    </message>
    <message>
        <source>ERROR, already in the list</source>
        <translation>ERROR, ya está en la lista</translation>
    </message>
    <message>
        <source>ERROR, already in the list: %1</source>
        <extracomment>%1 names the files.</extracomment>
        <translation>ERROR, ya está en la lista: %1</translation>
    </message>
    <message>
        <source>Delete this image?</source>
        <translation>¿Quitar esta imagen?</translation>
    </message>
    <message>
        <source>A batch is still running.
Close the program when it has finished?</source>
        <translation>Todavía se está procesando un lote.
¿Cerrar el programa cuando termine?</translation>
    </message>
    <message>
        <source>Finishing, then closing</source>
        <translation>Terminando; después se cierra</translation>
    </message>
    <message>
        <source>Search PACS</source>
        <extracomment>Searches the PACS (the picture archive) for studies.</extracomment>
        <translation>Buscar en PACS</translation>
    </message>
    <message>
        <source>Search WL</source>
        <extracomment>Searches the worklist (the scheduled procedures) for patients.</extracomment>
        <translation>Buscar en WL</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>Limpiar</translation>
    </message>
    <message>
        <source>Setup</source>
        <extracomment>Opens the settings dialog.</extracomment>
        <translation>Configuración</translation>
    </message>
    <message>
        <source>Add File</source>
        <translation>Añadir archivo</translation>
    </message>
    <message>
        <source>Add Folder</source>
        <translation>Añadir carpeta</translation>
    </message>
    <message>
        <source>Scan</source>
        <extracomment>Opens the scanner window.</extracomment>
        <translation>Escanear</translation>
    </message>
    <message>
        <source>About</source>
        <translation>Acerca de</translation>
    </message>
    <message>
        <source>Send</source>
        <extracomment>Sends the list&apos;s files to the PACS.</extracomment>
        <translation>Enviar</translation>
    </message>
    <message>
        <source>Save To Folder</source>
        <translation>Guardar en carpeta</translation>
    </message>
    <message>
        <source>End</source>
        <extracomment>Ends the program.</extracomment>
        <translation>Salir</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>Progreso</translation>
    </message>
</context>
<context>
    <name>TOutboxFrm</name>
    <message>
        <source>waiting</source>
        <translation>en espera</translation>
    </message>
    <message>
        <source>failed</source>
        <translation>fallido</translation>
    </message>
    <message>
        <source>stored</source>
        <extracomment>Stored on the PACS, which has not yet committed it.</extracomment>
        <translation>almacenado</translation>
    </message>
    <message>
        <source>gone</source>
        <translation>enviado</translation>
    </message>
    <message>
        <source>Outbox</source>
        <translation>Bandeja de salida</translation>
    </message>
    <message>
        <source>Objects in the outbox</source>
        <translation>Objetos en la bandeja de salida</translation>
    </message>
    <message>
        <source>State</source>
        <translation>Estado</translation>
    </message>
    <message>
        <source>Cause</source>
        <translation>Causa</translation>
    </message>
    <message>
        <source>Retry now</source>
        <translation>Reintentar ahora</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Quitar</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Cerrar</translation>
    </message>
    <message>
        <source>Please select the objects to remove</source>
        <translation>Seleccione los objetos que desea quitar</translation>
    </message>
    <message numerus="yes">
        <source>Remove %n objects from the outbox?
They will not be sent to the PACS.</source>
        <translation>
            <numerusform>¿Quitar %n objeto de la bandeja de salida?
No se enviará al PACS.</numerusform>
            <numerusform>¿Quitar %n objetos de la bandeja de salida?
No se enviarán al PACS.</numerusform>
        </translation>
    </message>
    <message>
        <source>WARNING</source>
        <translation>AVISO</translation>
    </message>
    <message>
        <source>Patient</source>
        <translation>Paciente</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Archivo</translation>
    </message>
    <message>
        <source>Kind</source>
        <translation>Tipo</translation>
    </message>
    <message>
        <source>Batch time</source>
        <translation>Hora del lote</translation>
    </message>
    <message>
        <source>PACS</source>
        <translation>PACS</translation>
    </message>
    <message>
        <source>Send to the current PACS</source>
        <translation>Enviar al PACS actual</translation>
    </message>
    <message>
        <source>Objects that wait for another PACS than the one in the settings go to this one instead</source>
        <translation>Los objetos que esperan a otro PACS distinto del de la configuración se envían a este en su lugar</translation>
    </message>
    <message>
        <source>waiting for its PACS</source>
        <extracomment>An object that waits for another PACS than the one in the settings: the one it was sent to.</extracomment>
        <translation>en espera de su PACS</translation>
    </message>
    <message>
        <source>image</source>
        <translation>imagen</translation>
    </message>
    <message>
        <source>document</source>
        <translation>documento</translation>
    </message>
    <message>
        <source>PDF</source>
        <translation>PDF</translation>
    </message>
    <message>
        <source>video</source>
        <translation>vídeo</translation>
    </message>
    <message>
        <source>other</source>
        <translation>otro</translation>
    </message>
    <message>
        <source>%1 · ID %2</source>
        <extracomment>A patient&apos;s name (%1) and ID (%2).</extracomment>
        <translation>%1 · ID %2</translation>
    </message>
    <message>
        <source>the PACS of the settings</source>
        <translation>el PACS de la configuración</translation>
    </message>
    <message numerus="yes">
        <source>%n attempts</source>
        <translation>
            <numerusform>%n intento</numerusform>
            <numerusform>%n intentos</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n waiting for %1</source>
        <translation>
            <numerusform>%n en espera de %1</numerusform>
            <numerusform>%n en espera de %1</numerusform>
        </translation>
    </message>
    <message>
        <source>No object here waits for another PACS</source>
        <translation>Ningún objeto de aquí espera a otro PACS</translation>
    </message>
    <message numerus="yes">
        <source>Send %n objects meant for %1 to %2 instead?
They will not be sent to %1.</source>
        <translation>
            <numerusform>¿Enviar %n objeto destinado a %1 a %2 en su lugar?
No se enviará a %1.</numerusform>
            <numerusform>¿Enviar %n objetos destinados a %1 a %2 en su lugar?
No se enviarán a %1.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>TSetupFrm</name>
    <message>
        <source>Setup</source>
        <extracomment>The settings dialog&apos;s title.</extracomment>
        <translation>Configuración</translation>
    </message>
    <message>
        <source>Local</source>
        <extracomment>The tab of this workstation&apos;s own settings.</extracomment>
        <translation>Local</translation>
    </message>
    <message>
        <source>PACS</source>
        <translation>PACS</translation>
    </message>
    <message>
        <source>WL Server</source>
        <extracomment>The tab of the worklist server.</extracomment>
        <translation>Servidor WL</translation>
    </message>
    <message>
        <source>Local AET</source>
        <extracomment>This workstation&apos;s own AE title.</extracomment>
        <translation>AET local</translation>
    </message>
    <message>
        <source>Inst. Name:</source>
        <extracomment>The institution&apos;s name written into every object.</extracomment>
        <translation>Institución:</translation>
    </message>
    <message>
        <source>Printer Port</source>
        <translation>Puerto de impresora</translation>
    </message>
    <message>
        <source>The desktop&apos;s</source>
        <extracomment>The first choice of the window&apos;s language: whatever the desktop speaks.</extracomment>
        <translation>La del escritorio</translation>
    </message>
    <message>
        <source>The window&apos;s language, from the next start of the program</source>
        <translation>El idioma de la ventana, a partir del próximo inicio del programa</translation>
    </message>
    <message>
        <source>Language</source>
        <extracomment>The window&apos;s language.</extracomment>
        <translation>Idioma</translation>
    </message>
    <message>
        <source>Debug logging</source>
        <translation>Registro detallado</translation>
    </message>
    <message>
        <source>Keep camera JPEGs as they are</source>
        <translation>Conservar los JPEG de la cámara tal cual</translation>
    </message>
    <message>
        <source>AET</source>
        <extracomment>The PACS&apos;s AE title.</extracomment>
        <translation>AET</translation>
    </message>
    <message>
        <source>IP Address</source>
        <translation>Dirección IP</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>Puerto</translation>
    </message>
    <message>
        <source>Test</source>
        <extracomment>Tests the connection to the server.</extracomment>
        <translation>Probar</translation>
    </message>
    <message>
        <source>Keep unsent objects in the outbox</source>
        <translation>Conservar los objetos no enviados en la bandeja de salida</translation>
    </message>
    <message>
        <source>Ask the PACS to commit stored objects (storage commitment)</source>
        <translation>Pedir al PACS que confirme el almacenamiento (storage commitment)</translation>
    </message>
    <message>
        <source>Commitment port</source>
        <extracomment>The port the PACS&apos;s storage commitment report comes to.</extracomment>
        <translation>Puerto de confirmación</translation>
    </message>
    <message>
        <source>The port on which this program takes the PACS&apos;s commitment report; empty: the report must come on the association that asked for it</source>
        <translation>El puerto en el que este programa recibe el informe de confirmación del PACS; vacío: el informe debe llegar por la asociación que lo pidió</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>Aceptar</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message>
        <source>The commitment port &quot;%1&quot; is not a port number from 1 to 65535</source>
        <translation>El puerto de confirmación «%1» no es un número de puerto de 1 a 65535</translation>
    </message>
    <message>
        <source>ERROR, the settings could not be written to %1</source>
        <translation>ERROR, no se pudo escribir la configuración en %1</translation>
    </message>
    <message>
        <source>The window speaks the chosen language from the next start.</source>
        <translation>La ventana usará el idioma elegido a partir del próximo inicio.</translation>
    </message>
    <message>
        <source>%1 is up and running!</source>
        <extracomment>%1 is the AE title of the PACS or worklist server tested.</extracomment>
        <translation>¡%1 está disponible y funciona!</translation>
    </message>
    <message>
        <source>ERROR, %1 does not answer!</source>
        <translation>ERROR, ¡%1 no responde!</translation>
    </message>
    <message>
        <source>printer application (IPP Everywhere)</source>
        <translation>aplicación de impresora (IPP Everywhere)</translation>
    </message>
    <message>
        <source>raw queue on the printer port</source>
        <translation>cola sin procesar en el puerto de impresora</translation>
    </message>
    <message>
        <source>Print capture</source>
        <translation>Captura de impresión</translation>
    </message>
</context>
<context>
    <name>UserMessage</name>
    <message numerus="yes">
        <source>%1 and %2 more</source>
        <extracomment>The first names of a long list of files, then how many more files there are.</extracomment>
        <translation>
            <numerusform>%1 y %2 más</numerusform>
            <numerusform>%1 y %2 más</numerusform>
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
        <translation>El nombre del paciente no puede estar vacío</translation>
    </message>
    <message>
        <source>Patient ID can&apos;t be empty</source>
        <translation>El ID del paciente no puede estar vacío</translation>
    </message>
    <message>
        <source>No files to send</source>
        <translation>No hay archivos que enviar</translation>
    </message>
    <message>
        <source>Too many files in one batch (%1; at most %2)</source>
        <translation>Demasiados archivos en un lote (%1; como máximo %2)</translation>
    </message>
    <message>
        <source>Cannot number the batch: another program of this user holds %1 (waited %2 s). Please try again.</source>
        <extracomment>%1 is a file path, %2 a number of seconds.</extracomment>
        <translation>No se puede numerar el lote: otro programa de este usuario tiene %1 (esperó %2 s). Inténtelo de nuevo.</translation>
    </message>
    <message>
        <source>Images sent OK</source>
        <translation>Imágenes enviadas correctamente</translation>
    </message>
    <message>
        <source>ERROR Sending Images, please check Log file</source>
        <translation>ERROR al enviar las imágenes; consulte el archivo de registro</translation>
    </message>
    <message numerus="yes">
        <source>%1 of %2 items were not sent: %3</source>
        <extracomment>%1 of %2 files of the list; %3 names them.</extracomment>
        <translation>
            <numerusform>%1 de %2 archivos no se envió: %3</numerusform>
            <numerusform>%1 de %2 archivos no se enviaron: %3</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1 of %2 items were not written: %3</source>
        <extracomment>%1 of %2 files of the list; %3 names them.</extracomment>
        <translation>
            <numerusform>%1 de %2 archivos no se escribió: %3</numerusform>
            <numerusform>%1 de %2 archivos no se escribieron: %3</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Send cancelled: %1 of %2 items were stored: %3; the other %4 stay in the list.</source>
        <extracomment>%1 of %2 files of the list were stored on the PACS, %3 names them, %4 stay in the list.</extracomment>
        <translation>
            <numerusform>Envío cancelado: %1 de %2 archivos se almacenó: %3; los otros %4 siguen en la lista.</numerusform>
            <numerusform>Envío cancelado: %1 de %2 archivos se almacenaron: %3; los otros %4 siguen en la lista.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Send cancelled: %1 of %2 items were stored; the other %3 stay in the list.</source>
        <translation>
            <numerusform>Envío cancelado: %1 de %2 archivos se almacenó; los otros %3 siguen en la lista.</numerusform>
            <numerusform>Envío cancelado: %1 de %2 archivos se almacenaron; los otros %3 siguen en la lista.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Send cancelled: %1 of %2 items were put in the outbox: %3; the other %4 stay in the list.</source>
        <translation>
            <numerusform>Envío cancelado: %1 de %2 archivos pasó a la bandeja de salida: %3; los otros %4 siguen en la lista.</numerusform>
            <numerusform>Envío cancelado: %1 de %2 archivos pasaron a la bandeja de salida: %3; los otros %4 siguen en la lista.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Send cancelled: %1 of %2 items were put in the outbox; the other %3 stay in the list.</source>
        <translation>
            <numerusform>Envío cancelado: %1 de %2 archivos pasó a la bandeja de salida; los otros %3 siguen en la lista.</numerusform>
            <numerusform>Envío cancelado: %1 de %2 archivos pasaron a la bandeja de salida; los otros %3 siguen en la lista.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Save cancelled: %1 of %2 items were written: %3; the other %4 stay in the list.</source>
        <translation>
            <numerusform>Guardado cancelado: %1 de %2 archivos se escribió: %3; los otros %4 siguen en la lista.</numerusform>
            <numerusform>Guardado cancelado: %1 de %2 archivos se escribieron: %3; los otros %4 siguen en la lista.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Save cancelled: %1 of %2 items were written; the other %3 stay in the list.</source>
        <translation>
            <numerusform>Guardado cancelado: %1 de %2 archivos se escribió; los otros %3 siguen en la lista.</numerusform>
            <numerusform>Guardado cancelado: %1 de %2 archivos se escribieron; los otros %3 siguen en la lista.</numerusform>
        </translation>
    </message>
    <message>
        <source>no text</source>
        <extracomment>Why a document gave no DICOM object.</extracomment>
        <translation>sin texto</translation>
    </message>
    <message>
        <source>unknown kind</source>
        <extracomment>Why a file of the list gave no DICOM object: it is no picture, document, PDF or video.</extracomment>
        <translation>tipo desconocido</translation>
    </message>
    <message>
        <source>Cannot write &quot;%1&quot;; see the log for the reason</source>
        <translation>No se puede escribir «%1»; el motivo está en el registro</translation>
    </message>
    <message>
        <source>Cannot write &quot;%1&quot;: %2</source>
        <extracomment>%1 is a file, %2 the system&apos;s reason.</extracomment>
        <translation>No se puede escribir «%1»: %2</translation>
    </message>
    <message>
        <source>Cannot write into &quot;%1&quot;: %2</source>
        <extracomment>%1 is a folder, %2 the system&apos;s reason.</extracomment>
        <translation>No se puede escribir en «%1»: %2</translation>
    </message>
    <message numerus="yes">
        <source>%1 objects queued in the outbox</source>
        <translation>
            <numerusform>%1 objeto en la bandeja de salida</numerusform>
            <numerusform>%1 objetos en la bandeja de salida</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>The PACS did not answer: %1 objects wait in the outbox and will be sent when it answers</source>
        <translation>
            <numerusform>El PACS no respondió: %1 objeto espera en la bandeja de salida y se enviará cuando responda</numerusform>
            <numerusform>El PACS no respondió: %1 objetos esperan en la bandeja de salida y se enviarán cuando responda</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>The PACS stored %1 objects but has not committed them yet: they stay in the outbox until it does</source>
        <translation>
            <numerusform>El PACS almacenó %1 objeto pero aún no lo ha confirmado: se queda en la bandeja de salida hasta entonces</numerusform>
            <numerusform>El PACS almacenó %1 objetos pero aún no los ha confirmado: se quedan en la bandeja de salida hasta entonces</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>The PACS stored %1 objects but has not committed them yet: they stay in the outbox until it does (%2)</source>
        <extracomment>%2 is the reason the PACS gave, or why no report came.</extracomment>
        <translation>
            <numerusform>El PACS almacenó %1 objeto pero aún no lo ha confirmado: se queda en la bandeja de salida hasta entonces (%2)</numerusform>
            <numerusform>El PACS almacenó %1 objetos pero aún no los ha confirmado: se quedan en la bandeja de salida hasta entonces (%2)</numerusform>
        </translation>
    </message>
    <message>
        <source>PACS refused the AE title %1</source>
        <extracomment>%1 is this program&apos;s own AE title.</extracomment>
        <translation>El PACS rechazó el título AE %1</translation>
    </message>
    <message>
        <source>The PACS at %1 is not called %2</source>
        <extracomment>%1 is host:port, %2 the AE title the PACS was called by.</extracomment>
        <translation>El PACS en %1 no se llama %2</translation>
    </message>
    <message>
        <source>The PACS at %1 is busy; try again later</source>
        <translation>El PACS en %1 está ocupado; inténtelo más tarde</translation>
    </message>
    <message>
        <source>The PACS at %1 refused the connection</source>
        <translation>El PACS en %1 rechazó la conexión</translation>
    </message>
    <message>
        <source>The PACS at %1 did not answer</source>
        <translation>El PACS en %1 no respondió</translation>
    </message>
    <message>
        <source>The PACS at %1 did not accept the connection</source>
        <translation>El PACS en %1 no aceptó la conexión</translation>
    </message>
    <message>
        <source>The PACS at %1 closed the connection</source>
        <translation>El PACS en %1 cerró la conexión</translation>
    </message>
    <message>
        <source>the request could not be sent</source>
        <extracomment>Why an object was not stored.</extracomment>
        <translation>no se pudo enviar la solicitud</translation>
    </message>
    <message>
        <source>the PACS gave no answer</source>
        <extracomment>Why an object was not stored.</extracomment>
        <translation>el PACS no respondió</translation>
    </message>
    <message>
        <source>Batch for %1 · ID %2</source>
        <extracomment>The line above Send: the patient&apos;s name (%1) and ID (%2) of the chosen search result.</extracomment>
        <translation>Lote para %1 · ID %2</translation>
    </message>
    <message>
        <source>Batch for %1 · ID %2 · ACC %3</source>
        <extracomment>The line above Send: name, ID and accession number of the chosen search result.</extracomment>
        <translation>Lote para %1 · ID %2 · N.º de acceso %3</translation>
    </message>
    <message numerus="yes">
        <source>Search stopped: %1; %2 entries shown</source>
        <extracomment>%1 says why; %2 rows of the result grid are shown.</extracomment>
        <translation>
            <numerusform>Búsqueda interrumpida: %1; se muestra %2 entrada</numerusform>
            <numerusform>Búsqueda interrumpida: %1; se muestran %2 entradas</numerusform>
        </translation>
    </message>
    <message>
        <source>the PACS answered with the failure status 0x%1</source>
        <extracomment>%1 is a hexadecimal status code.</extracomment>
        <translation>el PACS respondió con el estado de error 0x%1</translation>
    </message>
    <message>
        <source>the worklist server answered with the failure status 0x%1</source>
        <extracomment>%1 is a hexadecimal status code.</extracomment>
        <translation>el servidor de worklist respondió con el estado de error 0x%1</translation>
    </message>
    <message>
        <source>the PACS ended the association</source>
        <translation>el PACS terminó la asociación</translation>
    </message>
    <message>
        <source>the worklist server ended the association</source>
        <translation>el servidor de worklist terminó la asociación</translation>
    </message>
    <message>
        <source>the PACS closed the connection</source>
        <translation>el PACS cerró la conexión</translation>
    </message>
    <message>
        <source>the worklist server closed the connection</source>
        <translation>el servidor de worklist cerró la conexión</translation>
    </message>
    <message>
        <source>the server stopped answering</source>
        <translation>el servidor dejó de responder</translation>
    </message>
    <message>
        <source>the PACS stopped answering part-way</source>
        <translation>el PACS dejó de responder a mitad</translation>
    </message>
    <message numerus="yes">
        <source>%1 waiting</source>
        <extracomment>The outbox line under the buttons: objects waiting to be sent.</extracomment>
        <translation>
            <numerusform>%1 en espera</numerusform>
            <numerusform>%1 en espera</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1 awaiting commitment</source>
        <extracomment>The outbox line: objects stored whose storage commitment the PACS has not reported.</extracomment>
        <translation>
            <numerusform>%1 pendiente de confirmación</numerusform>
            <numerusform>%1 pendientes de confirmación</numerusform>
        </translation>
    </message>
    <message>
        <source>sending</source>
        <extracomment>The outbox line: the objects are being sent now.</extracomment>
        <translation>enviando</translation>
    </message>
    <message>
        <source>next try %1</source>
        <extracomment>The outbox line: %1 is the time of the next try.</extracomment>
        <translation>próximo intento a las %1</translation>
    </message>
    <message numerus="yes">
        <source>%1 failed</source>
        <extracomment>The outbox line: objects the PACS refused.</extracomment>
        <translation>
            <numerusform>%1 fallido</numerusform>
            <numerusform>%1 fallidos</numerusform>
        </translation>
    </message>
    <message>
        <source>The AE title &quot;%1&quot; holds &quot;%2&quot;, which an AE title cannot carry (8-bit text only)</source>
        <extracomment>%1 is the typed AE title, %2 the character it cannot carry.</extracomment>
        <translation>El título AE «%1» contiene «%2», que un título AE no admite (solo texto de 8 bits)</translation>
    </message>
    <message>
        <source>not reached</source>
        <extracomment>Why a file of the list was not sent: a failure (a full disk) stopped the batch before it.</extracomment>
        <translation>no alcanzado</translation>
    </message>
    <message numerus="yes">
        <source>%1 objects wait in the outbox and will be sent again: %2</source>
        <extracomment>%2 says why they were not stored (the server&apos;s answer did not confirm them, say).</extracomment>
        <translation>
            <numerusform>%1 objeto espera en la bandeja de salida y se volverá a enviar: %2</numerusform>
            <numerusform>%1 objetos esperan en la bandeja de salida y se volverán a enviar: %2</numerusform>
        </translation>
    </message>
    <message>
        <source>more matches than shown</source>
        <extracomment>Why a search stopped: the server has more matches than a search shows.</extracomment>
        <translation>más resultados de los mostrados</translation>
    </message>
    <message numerus="yes">
        <source>%1 waiting for %2</source>
        <extracomment>The outbox line: objects waiting for another PACS (%2) than the one in the settings.</extracomment>
        <translation>
            <numerusform>%1 en espera de %2</numerusform>
            <numerusform>%1 en espera de %2</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1 waiting objects were stored on %2</source>
        <extracomment>The outbox line, for a while: objects that had waited were stored on the PACS named %2.</extracomment>
        <translation>
            <numerusform>%1 objeto en espera se almacenó en %2</numerusform>
            <numerusform>%1 objetos en espera se almacenaron en %2</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>WindowLanguage</name>
    <message>
        <source>D</source>
        <comment>day in a date format</comment>
        <translation>D</translation>
    </message>
    <message>
        <source>M</source>
        <comment>month in a date format</comment>
        <translation>M</translation>
    </message>
    <message>
        <source>Y</source>
        <comment>year in a date format</comment>
        <translation>A</translation>
    </message>
</context>
</TS>
