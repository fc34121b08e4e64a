<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr_FR">
<context>
    <name>BatchRunner</name>
    <message>
        <source>Cancel</source>
        <translation>Annuler</translation>
    </message>
    <message>
        <source>Converting</source>
        <extracomment>The progress bar while a batch&apos;s first items are converted.</extracomment>
        <translation>Conversion</translation>
    </message>
    <message>
        <source>Queued %1 of %2</source>
        <extracomment>The progress bar: objects put into the outbox so far.</extracomment>
        <translation>%1 sur %2 dans la boîte d&apos;envoi</translation>
    </message>
    <message>
        <source>%1 of %2</source>
        <extracomment>The progress bar: objects sent or written so far.</extracomment>
        <translation>%1 sur %2</translation>
    </message>
    <message>
        <source>Cancelling</source>
        <translation>Annulation</translation>
    </message>
</context>
<context>
    <name>DeviceOptionsDialog</name>
    <message>
        <source>The scanner did not take the source &quot;%1&quot; (code %2).</source>
        <translation>Le scanner n&apos;a pas accepté la source « %1 » (code %2).</translation>
    </message>
    <message>
        <source>The scanner&apos;s options could not be read after the change of source (code %1); the page area is checked again when the scan starts.</source>
        <translation>Les options du scanner n&apos;ont pas pu être lues après le changement de source (code %1) ; la zone de la page sera vérifiée à nouveau au début de la numérisation.</translation>
    </message>
    <message>
        <source>Source:</source>
        <translation>Source :</translation>
    </message>
    <message>
        <source>Mode:</source>
        <translation>Mode :</translation>
    </message>
    <message>
        <source>Left:</source>
        <translation>Gauche :</translation>
    </message>
    <message>
        <source>Top:</source>
        <translation>Haut :</translation>
    </message>
    <message>
        <source>Right:</source>
        <translation>Droite :</translation>
    </message>
    <message>
        <source>Bottom:</source>
        <translation>Bas :</translation>
    </message>
    <message>
        <source>Colour and resolution follow the scanner configuration.</source>
        <translation>La couleur et la résolution suivent la configuration du scanner.</translation>
    </message>
</context>
<context>
    <name>DicomWebFields</name>
    <message>
        <source>Protocol</source>
        <translation>Protocole</translation>
    </message>
    <message>
        <source>How the PACS is reached: DICOM (C-STORE, C-FIND) or DICOMweb</source>
        <translation>Comment joindre le PACS : DICOM (C-STORE, C-FIND) ou DICOMweb</translation>
    </message>
    <message>
        <source>URL</source>
        <translation>URL</translation>
    </message>
    <message>
        <source>Login</source>
        <translation>Connexion</translation>
    </message>
    <message>
        <source>None</source>
        <extracomment>No login at the DICOMweb server.</extracomment>
        <translation>Aucune</translation>
    </message>
    <message>
        <source>User and password</source>
        <translation>Utilisateur et mot de passe</translation>
    </message>
    <message>
        <source>Bearer token</source>
        <translation>Jeton Bearer</translation>
    </message>
    <message>
        <source>User</source>
        <translation>Utilisateur</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Mot de passe</translation>
    </message>
    <message>
        <source>Token</source>
        <translation>Jeton</translation>
    </message>
    <message>
        <source>CA file</source>
        <extracomment>The file of the certificate authorities the server&apos;s certificate is checked against.</extracomment>
        <translation>Fichier CA</translation>
    </message>
    <message>
        <source>the system&apos;s CA certificates</source>
        <translation>les certificats CA du système</translation>
    </message>
    <message>
        <source>Verify the server&apos;s certificate</source>
        <translation>Vérifier le certificat du serveur</translation>
    </message>
    <message>
        <source>Time-out (s)</source>
        <extracomment>Seconds without an answer before a request is given up.</extracomment>
        <translation>Délai (s)</translation>
    </message>
    <message>
        <source>Allow the password over http:// (unencrypted)</source>
        <translation>Autoriser le mot de passe sur http:// (non chiffré)</translation>
    </message>
    <message>
        <source>Over http:// anyone on the network can read the password; leave this off unless the server is on this computer or a closed network</source>
        <translation>Sur http://, n&apos;importe qui sur le réseau peut lire le mot de passe ; ne l&apos;activez que si le serveur est sur cet ordinateur ou sur un réseau fermé</translation>
    </message>
</context>
<context>
    <name>ItemStrip</name>
    <message>
        <source>cannot be decoded</source>
        <translation>illisible</translation>
    </message>
    <message>
        <source>IMG</source>
        <translation>IMG</translation>
    </message>
    <message>
        <source>TEXT</source>
        <translation>TEXTE</translation>
    </message>
    <message>
        <source>PDF</source>
        <translation>PDF</translation>
    </message>
    <message>
        <source>Video</source>
        <translation>Vidéo</translation>
    </message>
</context>
<context>
    <name>ItemStripView</name>
    <message>
        <source>Items</source>
        <extracomment>The strip of the list&apos;s files, for screen readers.</extracomment>
        <translation>Fichiers</translation>
    </message>
</context>
<context>
    <name>OutboxIndicator</name>
    <message>
        <source>Outbox</source>
        <translation>Boîte d&apos;envoi</translation>
    </message>
</context>
<context>
    <name>PatientForm</name>
    <message>
        <source>Patient Name</source>
        <translation>Nom du patient</translation>
    </message>
    <message>
        <source>Patient ID</source>
        <translation>ID patient</translation>
    </message>
    <message>
        <source>Patient Sex</source>
        <translation>Sexe</translation>
    </message>
    <message>
        <source>Male</source>
        <translation>Masculin</translation>
    </message>
    <message>
        <source>Female</source>
        <translation>Féminin</translation>
    </message>
    <message>
        <source>Other</source>
        <translation>Autre</translation>
    </message>
    <message>
        <source>Patient BD / From</source>
        <extracomment>The birth date field, which is also the lower bound of a search&apos;s study dates.</extracomment>
        <translation>Date naiss. / Du</translation>
    </message>
    <message>
        <source>Modality</source>
        <translation>Modalité</translation>
    </message>
    <message>
        <source>ALL</source>
        <extracomment>The modality box&apos;s first item: every modality (the others are DICOM&apos;s own codes).</extracomment>
        <translation>TOUTES</translation>
    </message>
    <message>
        <source>Accession Number</source>
        <translation>N° d&apos;accès</translation>
    </message>
    <message>
        <source>Study Description</source>
        <translation>Description de l&apos;étude</translation>
    </message>
    <message>
        <source>Study Date / To</source>
        <extracomment>The study date field, which is also the upper bound of a search&apos;s study dates.</extracomment>
        <translation>Date d&apos;étude / Au</translation>
    </message>
    <message>
        <source>unknown</source>
        <extracomment>The birth date field while no birth date is known.</extracomment>
        <translation>inconnue</translation>
    </message>
</context>
<context>
    <name>PreviewView</name>
    <message>
        <source>Preview</source>
        <translation>Aperçu</translation>
    </message>
</context>
<context>
    <name>StripAndPreview</name>
    <message>
        <source>ERROR, can&apos;t process %1</source>
        <extracomment>%1 is a file&apos;s extension, such as .ODT.</extracomment>
        <translation>ERREUR, impossible de traiter %1</translation>
    </message>
    <message>
        <source>This picture cannot be decoded:
%1</source>
        <translation>Cette image ne peut pas être lue :
%1</translation>
    </message>
</context>
<context>
    <name>StudySearch</name>
    <message>
        <source>Name</source>
        <translation>Nom</translation>
    </message>
    <message>
        <source>ID</source>
        <translation>ID</translation>
    </message>
    <message>
        <source>Sex</source>
        <translation>Sexe</translation>
    </message>
    <message>
        <source>Birth Date</source>
        <translation>Naissance</translation>
    </message>
    <message>
        <source>Study Description</source>
        <translation>Description de l&apos;étude</translation>
    </message>
    <message>
        <source>Study Date</source>
        <translation>Date d&apos;étude</translation>
    </message>
    <message>
        <source>Accession N.</source>
        <translation>N° d&apos;accès</translation>
    </message>
    <message>
        <source>Results</source>
        <translation>Résultats</translation>
    </message>
    <message>
        <source>ERROR, couldn&apos;t connect to %1</source>
        <extracomment>%1 is the AE title or address of the PACS or worklist server.</extracomment>
        <translation>ERREUR, connexion impossible à %1</translation>
    </message>
</context>
<context>
    <name>TAcquisitionForm</name>
    <message>
        <source>Scan</source>
        <translation>Numériser</translation>
    </message>
    <message>
        <source>Configuration</source>
        <translation>Configuration</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Enregistrer</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Fermer</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Annuler</translation>
    </message>
    <message>
        <source>Acquisition Form</source>
        <extracomment>The scanner window&apos;s title.</extracomment>
        <translation>Numérisation</translation>
    </message>
    <message>
        <source>ERROR, acquiring image: %1</source>
        <extracomment>%1 is the failure&apos;s code, eight hexadecimal digits.</extracomment>
        <translation>ERREUR lors de la numérisation de l&apos;image : %1</translation>
    </message>
    <message>
        <source>Looking for scanners...</source>
        <translation>Recherche des scanners…</translation>
    </message>
    <message>
        <source>No Scanner Found</source>
        <translation>Aucun scanner trouvé</translation>
    </message>
    <message>
        <source>Opening scanner...</source>
        <translation>Ouverture du scanner…</translation>
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
        <translation>Annuler</translation>
    </message>
    <message>
        <source>Scanner Configuration</source>
        <translation>Configuration du scanner</translation>
    </message>
    <message>
        <source>Color</source>
        <translation>Couleur</translation>
    </message>
    <message>
        <source>GrayScale</source>
        <translation>Niveaux de gris</translation>
    </message>
    <message>
        <source>Colour:</source>
        <translation>Couleur :</translation>
    </message>
    <message>
        <source>Resolution (dpi):</source>
        <translation>Résolution (ppp) :</translation>
    </message>
</context>
<context>
    <name>TForm1</name>
    <message>
        <source>Installing the printer</source>
        <translation>Installation de l&apos;imprimante</translation>
    </message>
    <message>
        <source>Please select a folder with DICOM objects:</source>
        <translation>Veuillez choisir un dossier pour les objets DICOM :</translation>
    </message>
    <message>
        <source>Images (*.jpg *.bmp *png);;Text (*.doc *.docx *.rtf *.txt *.html);;PDF (*.pdf);;Video (*.mp4)</source>
        <extracomment>The file dialog&apos;s kinds of files; keep the patterns in brackets and the &quot;;;&quot; between kinds.</extracomment>
        <translation>Images (*.jpg *.bmp *png);;Texte (*.doc *.docx *.rtf *.txt *.html);;PDF (*.pdf);;Vidéo (*.mp4)</translation>
    </message>
    <message>
        <source>WARNING</source>
        <translation>AVERTISSEMENT</translation>
    </message>
    <message>
        <source>Have no filters
Search can take very long</source>
        <translation>Aucun filtre
La recherche peut être très longue</translation>
    </message>
    <message>
        <source>Searching</source>
        <translation>Recherche en cours</translation>
    </message>
    <message>
        <source>%1 (Esc stops)</source>
        <extracomment>The progress bar while the window waits for something: %1 says for what.</extracomment>
        <translation>%1 (Échap arrête)</translation>
    </message>
    <message>
        <source>VELLORAN V%1
DICOM Converter</source>
        <extracomment>The About box: the program&apos;s name and version, then what it is.</extracomment>
        <translation>VELLORAN V%1
Convertisseur DICOM</translation>
    </message>
    <message>
        <source>ERROR, this copy of the program has no scanner support</source>
        <translation>ERREUR, cette copie du programme ne prend pas en charge les scanners</translation>
    </message>
    <message>
        <source>ERROR, already in the list</source>
        <translation>ERREUR, déjà dans la liste</translation>
    </message>
    <message>
        <source>ERROR, already in the list: %1</source>
        <extracomment>%1 names the files.</extracomment>
        <translation>ERREUR, déjà dans la liste : %1</translation>
    </message>
    <message>
        <source>Delete this image?</source>
        <translation>Retirer cette image ?</translation>
    </message>
    <message>
        <source>A batch is still running.
Close the program when it has finished?</source>
        <translation>Un lot est encore en cours.
Fermer le programme quand il sera terminé ?</translation>
    </message>
    <message>
        <source>Finishing, then closing</source>
        <translation>Fin en cours, puis fermeture</translation>
    </message>
    <message>
        <source>Search PACS</source>
        <extracomment>Searches the PACS (the picture archive) for studies.</extracomment>
        <translation>Chercher PACS</translation>
    </message>
    <message>
        <source>Search WL</source>
        <extracomment>Searches the worklist (the scheduled procedures) for patients.</extracomment>
        <translation>Chercher WL</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>Effacer</translation>
    </message>
    <message>
        <source>Setup</source>
        <extracomment>Opens the settings dialog.</extracomment>
        <translation>Réglages</translation>
    </message>
    <message>
        <source>Add File</source>
        <translation>Ajouter un fichier</translation>
    </message>
    <message>
        <source>Add Folder</source>
        <translation>Ajouter un dossier</translation>
    </message>
    <message>
        <source>Scan</source>
        <extracomment>Opens the scanner window.</extracomment>
        <translation>Numériser</translation>
    </message>
    <message>
        <source>About</source>
        <translation>À propos</translation>
    </message>
    <message>
        <source>Send</source>
        <extracomment>Sends the list&apos;s files to the PACS.</extracomment>
        <translation>Envoyer</translation>
    </message>
    <message>
        <source>Save To Folder</source>
        <translation>Enregistrer dans un dossier</translation>
    </message>
    <message>
        <source>End</source>
        <extracomment>Ends the program.</extracomment>
        <translation>Quitter</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>Progression</translation>
    </message>
</context>
<context>
    <name>TOutboxFrm</name>
    <message>
        <source>waiting</source>
        <translation>en attente</translation>
    </message>
    <message>
        <source>failed</source>
        <translation>échoué</translation>
    </message>
    <message>
        <source>stored</source>
        <extracomment>Stored on the PACS, which has not yet committed it.</extracomment>
        <translation>stocké</translation>
    </message>
    <message>
        <source>gone</source>
        <translation>parti</translation>
    </message>
    <message>
        <source>Outbox</source>
        <translation>Boîte d&apos;envoi</translation>
    </message>
    <message>
        <source>Objects in the outbox</source>
        <translation>Objets dans la boîte d&apos;envoi</translation>
    </message>
    <message>
        <source>State</source>
        <translation>État</translation>
    </message>
    <message>
        <source>Cause</source>
        <translation>Cause</translation>
    </message>
    <message>
        <source>Retry now</source>
        <translation>Réessayer maintenant</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Retirer</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Fermer</translation>
    </message>
    <message>
        <source>Please select the objects to remove</source>
        <translation>Veuillez choisir les objets à retirer</translation>
    </message>
    <message numerus="yes">
        <source>Remove %n objects from the outbox?
They will not be sent to the PACS.</source>
        <translation>
            <numerusform>Retirer %n objet de la boîte d&apos;envoi ?
Il ne sera pas envoyé au PACS.</numerusform>
            <numerusform>Retirer %n objets de la boîte d&apos;envoi ?
Ils ne seront pas envoyés au PACS.</numerusform>
        </translation>
    </message>
    <message>
        <source>WARNING</source>
        <translation>AVERTISSEMENT</translation>
    </message>
    <message>
        <source>Patient</source>
        <translation>Patient</translation>
    </message>
    <message>
        <source>File</source>
        <translation>Fichier</translation>
    </message>
    <message>
        <source>Kind</source>
        <translation>Type</translation>
    </message>
    <message>
        <source>Batch time</source>
        <translation>Heure du lot</translation>
    </message>
    <message>
        <source>PACS</source>
        <translation>PACS</translation>
    </message>
    <message>
        <source>Send to the current PACS</source>
        <translation>Envoyer au PACS actuel</translation>
    </message>
    <message>
        <source>Objects that wait for another PACS than the one in the settings go to this one instead</source>
        <translation>Les objets qui attendent un autre PACS que celui des paramètres sont envoyés à celui-ci à la place</translation>
    </message>
    <message>
        <source>waiting for its PACS</source>
        <extracomment>An object that waits for another PACS than the one in the settings: the one it was sent to.</extracomment>
        <translation>en attente de son PACS</translation>
    </message>
    <message>
        <source>image</source>
        <translation>image</translation>
    </message>
    <message>
        <source>document</source>
        <translation>document</translation>
    </message>
    <message>
        <source>PDF</source>
        <translation>PDF</translation>
    </message>
    <message>
        <source>video</source>
        <translation>vidéo</translation>
    </message>
    <message>
        <source>other</source>
        <translation>autre</translation>
    </message>
    <message>
        <source>%1 · ID %2</source>
        <extracomment>A patient&apos;s name (%1) and ID (%2).</extracomment>
        <translation>%1 · ID %2</translation>
    </message>
    <message>
        <source>the PACS of the settings</source>
        <translation>le PACS des paramètres</translation>
    </message>
    <message numerus="yes">
        <source>%n attempts</source>
        <translation>
            <numerusform>%n tentative</numerusform>
            <numerusform>%n tentatives</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n waiting for %1</source>
        <translation>
            <numerusform>%n en attente de %1</numerusform>
            <numerusform>%n en attente de %1</numerusform>
        </translation>
    </message>
    <message>
        <source>No object here waits for another PACS</source>
        <translation>Aucun objet ici n&apos;attend un autre PACS</translation>
    </message>
    <message numerus="yes">
        <source>Send %n objects meant for %1 to %2 instead?
They will not be sent to %1.</source>
        <translation>
            <numerusform>Envoyer %n objet destiné à %1 à %2 à la place ?
Il ne sera pas envoyé à %1.</numerusform>
            <numerusform>Envoyer %n objets destinés à %1 à %2 à la place ?
Ils ne seront pas envoyés à %1.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>TSetupFrm</name>
    <message>
        <source>Setup</source>
        <extracomment>The settings dialog&apos;s title.</extracomment>
        <translation>Réglages</translation>
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
        <translation>Serveur WL</translation>
    </message>
    <message>
        <source>Local AET</source>
        <extracomment>This workstation&apos;s own AE title.</extracomment>
        <translation>AET local</translation>
    </message>
    <message>
        <source>Inst. Name:</source>
        <extracomment>The institution&apos;s name written into every object.</extracomment>
        <translation>Établissement :</translation>
    </message>
    <message>
        <source>Printer Port</source>
        <translation>Port imprimante</translation>
    </message>
    <message>
        <source>The desktop&apos;s</source>
        <extracomment>The first choice of the window&apos;s language: whatever the desktop speaks.</extracomment>
        <translation>Celle du bureau</translation>
    </message>
    <message>
        <source>The window&apos;s language, from the next start of the program</source>
        <translation>La langue de la fenêtre, à partir du prochain démarrage du programme</translation>
    </message>
    <message>
        <source>Language</source>
        <extracomment>The window&apos;s language.</extracomment>
        <translation>Langue</translation>
    </message>
    <message>
        <source>Debug logging</source>
        <translation>Journal détaillé</translation>
    </message>
    <message>
        <source>Keep camera JPEGs as they are</source>
        <translation>Garder les JPEG de l&apos;appareil photo tels quels</translation>
    </message>
    <message>
        <source>AET</source>
        <extracomment>The PACS&apos;s AE title.</extracomment>
        <translation>AET</translation>
    </message>
    <message>
        <source>IP Address</source>
        <translation>Adresse IP</translation>
    </message>
    <message>
        <source>Port</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>Test</source>
        <extracomment>Tests the connection to the server.</extracomment>
        <translation>Tester</translation>
    </message>
    <message>
        <source>Keep unsent objects in the outbox</source>
        <translation>Garder les objets non envoyés dans la boîte d&apos;envoi</translation>
    </message>
    <message>
        <source>Ask the PACS to commit stored objects (storage commitment)</source>
        <translation>Demander au PACS de confirmer le stockage (storage commitment)</translation>
    </message>
    <message>
        <source>Commitment port</source>
        <extracomment>The port the PACS&apos;s storage commitment report comes to.</extracomment>
        <translation>Port de confirmation</translation>
    </message>
    <message>
        <source>The port on which this program takes the PACS&apos;s commitment report; empty: the report must come on the association that asked for it</source>
        <translation>Le port sur lequel ce programme reçoit le rapport de confirmation du PACS ; vide : le rapport doit arriver sur l&apos;association qui l&apos;a demandé</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Annuler</translation>
    </message>
    <message>
        <source>The commitment port &quot;%1&quot; is not a port number from 1 to 65535</source>
        <translation>Le port de confirmation « %1 » n&apos;est pas un numéro de port de 1 à 65535</translation>
    </message>
    <message>
        <source>ERROR, the settings could not be written to %1</source>
        <translation>ERREUR, les réglages n&apos;ont pas pu être écrits dans %1</translation>
    </message>
    <message>
        <source>The window speaks the chosen language from the next start.</source>
        <translation>La fenêtre parlera la langue choisie à partir du prochain démarrage.</translation>
    </message>
    <message>
        <source>%1 is up and running!</source>
        <extracomment>%1 is the AE title of the PACS or worklist server tested.</extracomment>
        <translation>%1 est joignable et prêt !</translation>
    </message>
    <message>
        <source>ERROR, %1 does not answer!</source>
        <translation>ERREUR, %1 ne répond pas !</translation>
    </message>
    <message>
        <source>printer application (IPP Everywhere)</source>
        <translation>application d&apos;impression (IPP Everywhere)</translation>
    </message>
    <message>
        <source>raw queue on the printer port</source>
        <translation>file brute sur le port imprimante</translation>
    </message>
    <message>
        <source>Print capture</source>
        <translation>Capture d&apos;impression</translation>
    </message>
</context>
<context>
    <name>UserMessage</name>
    <message numerus="yes">
        <source>%1 and %2 more</source>
        <extracomment>The first names of a long list of files, then how many more files there are.</extracomment>
        <translation>
            <numerusform>%1 et %2 autre</numerusform>
            <numerusform>%1 et %2 autres</numerusform>
        </translation>
    </message>
    <message>
        <source>%1: %2</source>
        <extracomment>A file, item or object (%1) and what became of it (%2).</extracomment>
        <translation>%1 : %2</translation>
    </message>
    <message>
        <source>%1 (%2)</source>
        <extracomment>A file (%1) and why it gave no DICOM object (%2).</extracomment>
        <translation>%1 (%2)</translation>
    </message>
    <message>
        <source>Patient Name can&apos;t be empty</source>
        <translation>Le nom du patient ne peut pas être vide</translation>
    </message>
    <message>
        <source>Patient ID can&apos;t be empty</source>
        <translation>L&apos;ID patient ne peut pas être vide</translation>
    </message>
    <message>
        <source>No files to send</source>
        <translation>Aucun fichier à envoyer</translation>
    </message>
    <message>
        <source>Too many files in one batch (%1; at most %2)</source>
        <translation>Trop de fichiers dans un lot (%1 ; au plus %2)</translation>
    </message>
    <message>
        <source>Cannot number the batch: another program of this user holds %1 (waited %2 s). Please try again.</source>
        <extracomment>%1 is a file path, %2 a number of seconds.</extracomment>
        <translation>Impossible de numéroter le lot : un autre programme de cet utilisateur tient %1 (attente de %2 s). Veuillez réessayer.</translation>
    </message>
    <message>
        <source>Images sent OK</source>
        <translation>Images envoyées avec succès</translation>
    </message>
    <message>
        <source>ERROR Sending Images, please check Log file</source>
        <translation>ERREUR lors de l&apos;envoi des images, veuillez consulter le journal</translation>
    </message>
    <message numerus="yes">
        <source>%1 of %2 items were not sent: %3</source>
        <extracomment>%1 of %2 files of the list; %3 names them.</extracomment>
        <translation>
            <numerusform>%1 fichier sur %2 n&apos;a pas été envoyé : %3</numerusform>
            <numerusform>%1 fichiers sur %2 n&apos;ont pas été envoyés : %3</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1 of %2 items were not written: %3</source>
        <extracomment>%1 of %2 files of the list; %3 names them.</extracomment>
        <translation>
            <numerusform>%1 fichier sur %2 n&apos;a pas été écrit : %3</numerusform>
            <numerusform>%1 fichiers sur %2 n&apos;ont pas été écrits : %3</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Send cancelled: %1 of %2 items were stored: %3; the other %4 stay in the list.</source>
        <extracomment>%1 of %2 files of the list were stored on the PACS, %3 names them, %4 stay in the list.</extracomment>
        <translation>
            <numerusform>Envoi annulé : %1 fichier sur %2 a été stocké : %3 ; les %4 autres restent dans la liste.</numerusform>
            <numerusform>Envoi annulé : %1 fichiers sur %2 ont été stockés : %3 ; les %4 autres restent dans la liste.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Send cancelled: %1 of %2 items were stored; the other %3 stay in the list.</source>
        <translation>
            <numerusform>Envoi annulé : %1 fichier sur %2 a été stocké ; les %3 autres restent dans la liste.</numerusform>
            <numerusform>Envoi annulé : %1 fichiers sur %2 ont été stockés ; les %3 autres restent dans la liste.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Send cancelled: %1 of %2 items were put in the outbox: %3; the other %4 stay in the list.</source>
        <translation>
            <numerusform>Envoi annulé : %1 fichier sur %2 a été mis dans la boîte d&apos;envoi : %3 ; les %4 autres restent dans la liste.</numerusform>
            <numerusform>Envoi annulé : %1 fichiers sur %2 ont été mis dans la boîte d&apos;envoi : %3 ; les %4 autres restent dans la liste.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Send cancelled: %1 of %2 items were put in the outbox; the other %3 stay in the list.</source>
        <translation>
            <numerusform>Envoi annulé : %1 fichier sur %2 a été mis dans la boîte d&apos;envoi ; les %3 autres restent dans la liste.</numerusform>
            <numerusform>Envoi annulé : %1 fichiers sur %2 ont été mis dans la boîte d&apos;envoi ; les %3 autres restent dans la liste.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Save cancelled: %1 of %2 items were written: %3; the other %4 stay in the list.</source>
        <translation>
            <numerusform>Enregistrement annulé : %1 fichier sur %2 a été écrit : %3 ; les %4 autres restent dans la liste.</numerusform>
            <numerusform>Enregistrement annulé : %1 fichiers sur %2 ont été écrits : %3 ; les %4 autres restent dans la liste.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>Save cancelled: %1 of %2 items were written; the other %3 stay in the list.</source>
        <translation>
            <numerusform>Enregistrement annulé : %1 fichier sur %2 a été écrit ; les %3 autres restent dans la liste.</numerusform>
            <numerusform>Enregistrement annulé : %1 fichiers sur %2 ont été écrits ; les %3 autres restent dans la liste.</numerusform>
        </translation>
    </message>
    <message>
        <source>no text</source>
        <extracomment>Why a document gave no DICOM object.</extracomment>
        <translation>aucun texte</translation>
    </message>
    <message>
        <source>unknown kind</source>
        <extracomment>Why a file of the list gave no DICOM object: it is no picture, document, PDF or video.</extracomment>
        <translation>type inconnu</translation>
    </message>
    <message>
        <source>Cannot write &quot;%1&quot;; see the log for the reason</source>
        <translation>Impossible d&apos;écrire « %1 » ; la raison figure dans le journal</translation>
    </message>
    <message>
        <source>Cannot write &quot;%1&quot;: %2</source>
        <extracomment>%1 is a file, %2 the system&apos;s reason.</extracomment>
        <translation>Impossible d&apos;écrire « %1 » : %2</translation>
    </message>
    <message>
        <source>Cannot write into &quot;%1&quot;: %2</source>
        <extracomment>%1 is a folder, %2 the system&apos;s reason.</extracomment>
        <translation>Impossible d&apos;écrire dans « %1 » : %2</translation>
    </message>
    <message numerus="yes">
        <source>%1 objects queued in the outbox</source>
        <translation>
            <numerusform>%1 objet placé dans la boîte d&apos;envoi</numerusform>
            <numerusform>%1 objets placés dans la boîte d&apos;envoi</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>The PACS did not answer: %1 objects wait in the outbox and will be sent when it answers</source>
        <translation>
            <numerusform>Le PACS n&apos;a pas répondu : %1 objet attend dans la boîte d&apos;envoi et sera envoyé dès qu&apos;il répondra</numerusform>
            <numerusform>Le PACS n&apos;a pas répondu : %1 objets attendent dans la boîte d&apos;envoi et seront envoyés dès qu&apos;il répondra</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>The PACS stored %1 objects but has not committed them yet: they stay in the outbox until it does</source>
        <translation>
            <numerusform>Le PACS a stocké %1 objet mais n&apos;a pas encore confirmé le stockage : il reste dans la boîte d&apos;envoi jusque-là</numerusform>
            <numerusform>Le PACS a stocké %1 objets mais n&apos;a pas encore confirmé le stockage : ils restent dans la boîte d&apos;envoi jusque-là</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>The PACS stored %1 objects but has not committed them yet: they stay in the outbox until it does (%2)</source>
        <extracomment>%2 is the reason the PACS gave, or why no report came.</extracomment>
        <translation>
            <numerusform>Le PACS a stocké %1 objet mais n&apos;a pas encore confirmé le stockage : il reste dans la boîte d&apos;envoi jusque-là (%2)</numerusform>
            <numerusform>Le PACS a stocké %1 objets mais n&apos;a pas encore confirmé le stockage : ils restent dans la boîte d&apos;envoi jusque-là (%2)</numerusform>
        </translation>
    </message>
    <message>
        <source>PACS refused the AE title %1</source>
        <extracomment>%1 is this program&apos;s own AE title.</extracomment>
        <translation>Le PACS a refusé le titre AE %1</translation>
    </message>
    <message>
        <source>The PACS at %1 is not called %2</source>
        <extracomment>%1 is host:port, %2 the AE title the PACS was called by.</extracomment>
        <translation>Le PACS à l&apos;adresse %1 ne s&apos;appelle pas %2</translation>
    </message>
    <message>
        <source>The PACS at %1 is busy; try again later</source>
        <translation>Le PACS à l&apos;adresse %1 est occupé ; réessayez plus tard</translation>
    </message>
    <message>
        <source>The PACS at %1 refused the connection</source>
        <translation>Le PACS à l&apos;adresse %1 a refusé la connexion</translation>
    </message>
    <message>
        <source>The PACS at %1 did not answer</source>
        <translation>Le PACS à l&apos;adresse %1 n&apos;a pas répondu</translation>
    </message>
    <message>
        <source>The PACS at %1 did not accept the connection</source>
        <translation>Le PACS à l&apos;adresse %1 n&apos;a pas accepté la connexion</translation>
    </message>
    <message>
        <source>The PACS at %1 closed the connection</source>
        <translation>Le PACS à l&apos;adresse %1 a fermé la connexion</translation>
    </message>
    <message>
        <source>the request could not be sent</source>
        <extracomment>Why an object was not stored.</extracomment>
        <translation>la demande n&apos;a pas pu être envoyée</translation>
    </message>
    <message>
        <source>the PACS gave no answer</source>
        <extracomment>Why an object was not stored.</extracomment>
        <translation>le PACS n&apos;a pas répondu</translation>
    </message>
    <message>
        <source>Batch for %1 · ID %2</source>
        <extracomment>The line above Send: the patient&apos;s name (%1) and ID (%2) of the chosen search result.</extracomment>
        <translation>Lot pour %1 · ID %2</translation>
    </message>
    <message>
        <source>Batch for %1 · ID %2 · ACC %3</source>
        <extracomment>The line above Send: name, ID and accession number of the chosen search result.</extracomment>
        <translation>Lot pour %1 · ID %2 · N° d&apos;accès %3</translation>
    </message>
    <message numerus="yes">
        <source>Search stopped: %1; %2 entries shown</source>
        <extracomment>%1 says why; %2 rows of the result grid are shown.</extracomment>
        <translation>
            <numerusform>Recherche interrompue : %1 ; %2 entrée affichée</numerusform>
            <numerusform>Recherche interrompue : %1 ; %2 entrées affichées</numerusform>
        </translation>
    </message>
    <message>
        <source>the PACS answered with the failure status 0x%1</source>
        <extracomment>%1 is a hexadecimal status code.</extracomment>
        <translation>le PACS a répondu par le statut d&apos;échec 0x%1</translation>
    </message>
    <message>
        <source>the worklist server answered with the failure status 0x%1</source>
        <extracomment>%1 is a hexadecimal status code.</extracomment>
        <translation>le serveur de worklist a répondu par le statut d&apos;échec 0x%1</translation>
    </message>
    <message>
        <source>the PACS ended the association</source>
        <translation>le PACS a mis fin à l&apos;association</translation>
    </message>
    <message>
        <source>the worklist server ended the association</source>
        <translation>le serveur de worklist a mis fin à l&apos;association</translation>
    </message>
    <message>
        <source>the PACS closed the connection</source>
        <translation>le PACS a fermé la connexion</translation>
    </message>
    <message>
        <source>the worklist server closed the connection</source>
        <translation>le serveur de worklist a fermé la connexion</translation>
    </message>
    <message>
        <source>the server stopped answering</source>
        <translation>le serveur ne répond plus</translation>
    </message>
    <message>
        <source>the PACS stopped answering part-way</source>
        <translation>le PACS a cessé de répondre en cours de route</translation>
    </message>
    <message numerus="yes">
        <source>%1 waiting</source>
        <extracomment>The outbox line under the buttons: objects waiting to be sent.</extracomment>
        <translation>
            <numerusform>%1 en attente</numerusform>
            <numerusform>%1 en attente</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1 awaiting commitment</source>
        <extracomment>The outbox line: objects stored whose storage commitment the PACS has not reported.</extracomment>
        <translation>
            <numerusform>%1 en attente de confirmation</numerusform>
            <numerusform>%1 en attente de confirmation</numerusform>
        </translation>
    </message>
    <message>
        <source>sending</source>
        <extracomment>The outbox line: the objects are being sent now.</extracomment>
        <translation>envoi en cours</translation>
    </message>
    <message>
        <source>next try %1</source>
        <extracomment>The outbox line: %1 is the time of the next try.</extracomment>
        <translation>prochain essai à %1</translation>
    </message>
    <message numerus="yes">
        <source>%1 failed</source>
        <extracomment>The outbox line: objects the PACS refused.</extracomment>
        <translation>
            <numerusform>%1 en échec</numerusform>
            <numerusform>%1 en échec</numerusform>
        </translation>
    </message>
    <message>
        <source>The AE title &quot;%1&quot; holds &quot;%2&quot;, which an AE title cannot carry (8-bit text only)</source>
        <extracomment>%1 is the typed AE title, %2 the character it cannot carry.</extracomment>
        <translation>Le titre AE « %1 » contient « %2 », qu&apos;un titre AE ne peut pas porter (texte 8 bits uniquement)</translation>
    </message>
    <message>
        <source>not reached</source>
        <extracomment>Why a file of the list was not sent: a failure (a full disk) stopped the batch before it.</extracomment>
        <translation>non atteint</translation>
    </message>
    <message numerus="yes">
        <source>%1 objects wait in the outbox and will be sent again: %2</source>
        <extracomment>%2 says why they were not stored (the server&apos;s answer did not confirm them, say).</extracomment>
        <translation>
            <numerusform>%1 objet attend dans la boîte d&apos;envoi et sera renvoyé : %2</numerusform>
            <numerusform>%1 objets attendent dans la boîte d&apos;envoi et seront renvoyés : %2</numerusform>
        </translation>
    </message>
    <message>
        <source>more matches than shown</source>
        <extracomment>Why a search stopped: the server has more matches than a search shows.</extracomment>
        <translation>plus de résultats que ceux affichés</translation>
    </message>
    <message numerus="yes">
        <source>%1 waiting for %2</source>
        <extracomment>The outbox line: objects waiting for another PACS (%2) than the one in the settings.</extracomment>
        <translation>
            <numerusform>%1 en attente de %2</numerusform>
            <numerusform>%1 en attente de %2</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1 waiting objects were stored on %2</source>
        <extracomment>The outbox line, for a while: objects that had waited were stored on the PACS named %2.</extracomment>
        <translation>
            <numerusform>%1 objet en attente a été stocké sur %2</numerusform>
            <numerusform>%1 objets en attente ont été stockés sur %2</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>WindowLanguage</name>
    <message>
        <source>D</source>
        <comment>day in a date format</comment>
        <translation>J</translation>
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
